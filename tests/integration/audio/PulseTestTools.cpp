#include "PulseTestTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

namespace tessvale::testing {

bool soundServerAvailable()
{
    return !runTool("pactl", { "info" }, 5000).isNull();
}

QString runTool(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    // Success with no output is an empty, not a null, string.
    return output.isNull() ? QStringLiteral("") : output;
}

QString temporaryPath(const QString& name)
{
    const QString base
        = qEnvironmentVariableIsSet("TESSVALE_TEST_ENV") ? qEnvironmentVariable("TESSVALE_TEST_ENV") : QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(name));
}

} // namespace tessvale::testing
