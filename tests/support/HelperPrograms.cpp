#include "support/HelperPrograms.h"

#include <QDir>
#include <QFileInfo>

namespace tessvale::testing {

QString helperProgramPath(const QString& name)
{
    QString directory = qEnvironmentVariable("TESSVALE_BIN_DIR");
    // /proc/self/exe needs no QCoreApplication, unlike applicationDirPath().
    if (directory.isEmpty())
        directory = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    return QDir(directory).filePath(name);
}

} // namespace tessvale::testing
