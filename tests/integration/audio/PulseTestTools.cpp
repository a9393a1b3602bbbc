#include "PulseTestTools.h"

#include "platform/linux/audio/LinuxAudioSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

namespace tessvale::testing {

std::shared_ptr<AudioSystem> desktopAudio()
{
    return std::make_shared<LinuxAudioSystem>();
}

bool soundServerAvailable()
{
    return !runTool("pactl", { "info" }, 60000).isNull();
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

namespace tessvale::testing {

PrivateSoundServer::PrivateSoundServer()
    : m_folder(temporaryPath("sound-server"))
{
    QDir().mkpath(m_folder);
    QFile::setPermissions(m_folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PULSE_SERVER", ("unix:" + m_folder + "/native").toUtf8());
}

PrivateSoundServer::~PrivateSoundServer()
{
    kill();
}

bool PrivateSoundServer::start()
{
    kill();
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", m_folder);
    environment.insert("PULSE_RUNTIME_PATH", m_folder);
    environment.insert("PULSE_STATE_PATH", m_folder);
    // The desktop's server already holds its name on the session bus.
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start("pulseaudio",
        { "--daemonize=no", "--exit-idle-time=-1", "--system=false", "--use-pid-file=no", "-n",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_folder + "/native",
            "--load=module-sine-source source_name=sine rate=48000 frequency=440" });
    if (!m_process->waitForStarted(60000)) {
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000 && m_process->state() == QProcess::Running) {
        if (!runTool("pactl", { "info" }, 2000).isNull()) {
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

void PrivateSoundServer::kill()
{
    if (m_process) {
        m_process->kill();
        m_process->waitForFinished(5000);
        m_process.reset();
    }
}

} // namespace tessvale::testing
