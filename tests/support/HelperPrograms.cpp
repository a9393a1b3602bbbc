#include "support/HelperPrograms.h"

#include <QDir>
#include <QFile>
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

bool writeScript(const QString& directory, const QString& name, const QByteArray& text)
{
    QFile script(QDir(directory).filePath(name));
    if (!script.open(QIODevice::WriteOnly) || script.write(text) != text.size())
        return false;
    script.close();
    return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}

bool writeFailingXfceOpener(const QString& directory)
{
    return writeScript(directory, QStringLiteral("exo-open"),
        "#!/bin/sh\n"
        "[ \"$1\" = --help ] && exit 0\n"
        "case $1 in\n"
        "  http:* | https:* | mailto:*)\n"
        "    echo 'Failed to launch preferred application for category \"WebBrowser\".' >&2\n"
        "    exit 1 ;;\n"
        "esac\n"
        "XDG_CURRENT_DESKTOP= exec xdg-open \"$1\"\n");
}

} // namespace tessvale::testing
