#include <gtest/gtest.h>

#include <QProcess>

#include "support/HelperPrograms.h"

TEST(AppStartup, StartsAndExitsCleanlyWithCheck)
{
    QProcess app;
    app.setProgram(tessvale::testing::helperProgramPath(QStringLiteral("Tessvale")));
    app.setArguments({ QStringLiteral("--check") });
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.setProcessEnvironment(environment);
    }
    app.start();
    ASSERT_TRUE(app.waitForFinished(60000)) << "Tessvale --check did not exit";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().constData();
}
