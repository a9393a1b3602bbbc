#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

#include "support/HelperPrograms.h"

using tessvale::testing::helperProgramPath;

// Run by hand, without CTest's TESSVALE_BIN_DIR, a test still finds what was built beside it.
TEST(HelperPrograms, FoundThroughTheBuildFolderOrBesideTheRunningTest)
{
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QByteArray saved = qgetenv("TESSVALE_BIN_DIR");

    qputenv("TESSVALE_BIN_DIR", "/opt/tessvale-build/bin");
    EXPECT_EQ(helperProgramPath(self), QStringLiteral("/opt/tessvale-build/bin/") + self);

    qunsetenv("TESSVALE_BIN_DIR");
    EXPECT_EQ(QFileInfo(helperProgramPath(self)).canonicalFilePath(),
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());

    if (!saved.isNull())
        qputenv("TESSVALE_BIN_DIR", saved);
}
