#include "AppProcess.h"

#include <csignal>
#include <memory>

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSettings>
#include <QUuid>

#include "FakeCloudServer.h"
#include "TestCertificateAuthority.h"
#include "auth/KeychainStore.h"
#include "coordinator/DictationCoordinator.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "settings/QSettingsUserDefaults.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"
#include "system/BundleInfo.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace tessvale::testing {

AppProcess::AppProcess(FakeCloudServer& server, const TestCertificateAuthority& authority, QString profile)
    : m_server(server)
    , m_authority(authority)
    , m_profile(std::move(profile))
{
}

AppProcess::~AppProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString AppProcess::freshProfile()
{
    return QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

void AppProcess::start()
{
    m_output.clear();
    m_process.setProgram(helperProgramPath(QStringLiteral("Tessvale")));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString origin = m_server.restOrigin().toString();
    environment.insert(QStringLiteral("TESSVALE_REST_ORIGIN"), origin);
    environment.insert(QStringLiteral("TESSVALE_WEB_ORIGIN"), origin);
    environment.insert(QStringLiteral("TESSVALE_SERVICE_DOMAIN"), QStringLiteral("localhost"));
    environment.insert(QStringLiteral("TESSVALE_LOOPBACK_CA_FILE"), m_authority.caCertificatePath());
    environment.insert(QStringLiteral("TESSVALE_PROFILE"), m_profile);
    m_process.setProcessEnvironment(environment);
    m_process.start();
}

bool AppProcess::waitForLog(const char* text, std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return logged(text); }, timeout);
}

bool AppProcess::logged(const char* text)
{
    return output().contains(text);
}

const QByteArray& AppProcess::output()
{
    m_output += m_process.readAll();
    return m_output;
}

void AppProcess::signal(int signalNumber)
{
    ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
}

bool AppProcess::waitForCleanExit(std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(int(timeout.count())))
        return false;
    output();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString AppProcess::keychainService() const
{
    const QString service = KeychainStore::resolvedService(std::nullopt, BundleInfo::main().bundleIdentifier());
    return m_profile.isEmpty() ? service : service + QLatin1Char('.') + m_profile;
}

QString AppProcess::settingsFile() const
{
    const QFileInfo usual(QSettings(QSettings::NativeFormat, QSettings::UserScope,
        QString::fromLatin1(QSettingsUserDefaults::organizationName),
        QString::fromLatin1(QSettingsUserDefaults::applicationName))
                              .fileName());
    if (m_profile.isEmpty())
        return usual.filePath();
    return usual.path() + QLatin1Char('/') + usual.completeBaseName() + QLatin1Char('-') + m_profile
        + QStringLiteral(".conf");
}

void AppProcess::storeApiKey(const QString& apiKey) const
{
    KeychainStore keychain(keychainService(), std::make_shared<LibsecretSecretStore>());
    runTask(keychain.save(apiKey, DictationCoordinator::apiKeyAccount));
}

std::optional<QString> AppProcess::storedApiKey() const
{
    KeychainStore keychain(keychainService(), std::make_shared<LibsecretSecretStore>());
    return runTask(keychain.read(DictationCoordinator::apiKeyAccount));
}

QStringList windowsNamed(const QString& pattern)
{
    QProcess search;
    search.start(QStringLiteral("xdotool"),
        { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), pattern });
    search.waitForFinished(60000);
    return QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void holdShortcut(bool press)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    const auto send = [display, press](KeySym keysym) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press ? True : False, CurrentTime);
        XSync(display, False);
    };
    send(press ? XK_Control_L : XK_Alt_L);
    send(press ? XK_Alt_L : XK_Control_L);
    XCloseDisplay(display);
}

} // namespace tessvale::testing
