#include "TessvaleApp.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QTimer>

#include "Profile.h"
#include "async/Spawn.h"
#include "audio/AudioCaptureService.h"
#include "auth/KeychainStore.h"
#include "base/Logging.h"
#include "cloud/CloudAPIClient.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/DictationCoordinator.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "hud/DictationHUDWindowController.h"
#include "insertion/TextInsertionService.h"
#include "instance/SingleInstance.h"
#include "menu/TrayController.h"
#include "settings/AppSettings.h"
#include "settings/QSettingsUserDefaults.h"
#include "setup/SetupWindowController.h"
#include "shortcuts/KeyboardEventMonitor.h"
#include "system/BundleInfo.h"
#include "system/ErrorMonitoring.h"
#include "system/LaunchAtLoginService.h"
#include "system/PermissionService.h"
#include "windows/DesktopAppearance.h"
#include "windows/settings/SettingsWindowController.h"
#include "windows/shortcuts/ShortcutSettingsCard.h"
#include "wiring/AppWiring.h"
#include "wiring/QuitSignalNotifier.h"

namespace tessvale {

TessvaleApp::TessvaleApp(std::unique_ptr<SingleInstance> instance, QObject* parent)
    : QObject(parent)
    , m_platform(makePlatformServices(launchEnvironment()))
    , m_instance(std::move(instance))
{
    // Nothing is reported before this.
    ErrorMonitoring::start(BundleInfo::main(), m_platform.envelopeTransport);
    // Before any window is built, so each is first drawn in the desktop's light or dark.
    m_appearance = std::make_unique<DesktopAppearance>(m_platform.colorScheme);

    buildServices();
    buildWindows();
    start();
    qCInfo(lcApp) << "Tessvale started";
}

void TessvaleApp::buildServices()
{
    // A named profile (the local demo service's) keeps its own settings file and keychain service.
    m_settings = std::make_unique<AppSettings>(std::make_shared<QSettingsUserDefaults>(settingsFile()));
    m_diagnostics = std::make_shared<FocusedAppDiagnosticsService>(m_platform.windows, m_platform.accessibility);
    m_keychain = std::make_shared<KeychainStore>(
        keychainServiceName(BundleInfo::main().bundleIdentifier()), m_platform.secrets);
    m_network = std::make_unique<QNetworkAccessManager>();
    m_cloudAPI = std::make_unique<CloudAPIClient>(m_network.get());
    m_permissions = std::make_shared<PermissionService>(PermissionService::systemOperations(
        m_platform.microphone, m_platform.settingsOpener, m_platform.accessibilityTrust));
    m_recorder = std::make_unique<AudioCaptureService>(m_platform.audio);
    TextInsertionPlatform insertionPlatform;
    insertionPlatform.clipboard = m_platform.clipboard;
    insertionPlatform.injector = m_platform.injector;
    insertionPlatform.sessionInput = m_platform.sessionInput;
    m_textInsertion = std::make_unique<TextInsertionService>(m_diagnostics, TextInsertionHooks {}, insertionPlatform);
    CoordinatorServices services = CoordinatorServices::live(m_keychain, *m_cloudAPI, m_permissions, *m_recorder,
        m_platform.audio, *m_textInsertion, m_diagnostics, m_platform.clipboard, m_platform.urlOpener);
    // The microphone opens once the HUD is on screen; the HUD is built below, before any start.
    services.hudShown = [this](CancelToken token) { return hudShownForDictation(std::move(token)); };
    m_coordinator = std::make_unique<DictationCoordinator>(*m_settings, std::move(services));
}

void TessvaleApp::buildWindows()
{
    m_launchAtLogin = std::make_unique<LaunchAtLoginService>(m_platform.loginItems);
    m_setupWindowController = std::make_unique<SetupWindowController>(*m_settings, *m_coordinator, *m_launchAtLogin);
    m_hudWindowController = std::make_unique<DictationHUDWindowController>(*m_coordinator);
    m_settingsWindowController
        = std::make_unique<SettingsWindowController>(*m_settings, *m_coordinator, *m_launchAtLogin);
    m_openSettingsShortcut
        = std::make_unique<OpenSettingsShortcut>([this] { m_settingsWindowController->showSettingsWindow(); });

    // The engine over the stored bindings; its binding observer configures it with them now, before
    // it is started below, and again after every change.
    m_shortcuts = std::make_unique<ShortcutWiring>(*m_settings, *m_coordinator,
        KeyboardEventMonitor::factory(m_platform, Sleeper::system()), Sleeper::system(), nullptr, m_platform.keyCodes);
    // A failure the HUD shows opens the setup window when clicked, unless an insertion can be retried.
    m_hudWindowController->setShowSetup([this] { m_setupWindowController->showSetupWindow(); });
    // Both windows are built on first use, by then with the engine their recorders suspend.
    m_settingsWindowController->setShortcutsCardFactory(
        [this](AppSettings& settings, DictationCoordinator& coordinator) {
            return new ShortcutSettingsCard(settings, coordinator, m_shortcuts.get());
        });
    m_setupWindowController->setShortcutsCardFactory(
        [this] { return new ShortcutSettingsCard(*m_settings, *m_coordinator, m_shortcuts.get()); });
    // A window that comes up while quitting is gone at once, so it does not count as presented.
    m_initialSetupObserver = std::make_unique<InitialSetupObserver>(
        *m_settings, *m_coordinator, [this] { return !m_quitting && m_setupWindowController->showSetupWindow(); });
}

void TessvaleApp::start()
{
    // Every URL handed to the application may be the sign-in callback; the coordinator decides, in a
    // task of its own. The instance emits its own command line's URL once the event loop runs.
    if (m_instance)
        connect(m_instance.get(), &SingleInstance::urlReceived, this, &TessvaleApp::handleURL);

    m_coordinator->bootstrap();
    m_coordinator->refreshFocusedAppDiagnostics();
    m_hudWindowController->updateVisibility(false);
    m_shortcuts->start();

    m_tray = std::make_unique<TrayController>(
        *m_coordinator, [this] { m_setupWindowController->showSetupWindow(); }, [this] { quit(); },
        [this] { m_settingsWindowController->showSettingsWindow(); });
    m_tray->start();
    // A relaunch without a URL shows the application: many desktops hide tray icons, so the setup
    // window comes up in front (over the fallback window where no tray host runs).
    if (m_instance)
        connect(m_instance.get(), &SingleInstance::activationRequested, this, &TessvaleApp::presentFromRelaunch);

    m_quitSignals = std::make_unique<QuitSignalNotifier>();
    connect(m_quitSignals.get(), &QuitSignalNotifier::quitRequested, this, [this](int signalNumber) {
        qCInfo(lcApp) << "Quitting on signal" << signalNumber;
        quit();
    });
}

TessvaleApp::~TessvaleApp()
{
    // Views and inputs first, so nothing reaches the coordinator while it goes.
    m_quitSignals.reset();
    m_tray.reset();
    m_initialSetupObserver.reset();
    m_shortcuts.reset();
    m_openSettingsShortcut.reset();
    m_settingsWindowController.reset();
    m_hudWindowController.reset();
    m_setupWindowController.reset();
    m_launchAtLogin.reset();
    m_coordinator.reset();
    // An insertion cut short puts the user's clipboard back as its cancelled waits resume, which
    // they do from the event queue.
    m_textInsertion.reset();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    m_recorder.reset();
    m_permissions.reset();
    m_cloudAPI.reset();
    m_network.reset();
    m_keychain.reset();
    m_diagnostics.reset();
    m_settings.reset();
    m_instance.reset();
    // The platform goes last, with the members' own destruction.
}

void TessvaleApp::presentFromRelaunch()
{
    if (m_quitting)
        return;
    qCInfo(lcApp) << "Started again: showing the setup window";
    m_tray->presentFromRelaunch();
    m_setupWindowController->showSetupWindow();
}

QCoro::Task<> TessvaleApp::hudShownForDictation(CancelToken token)
{
    if (!m_hudWindowController)
        co_return;
    QCoro::Task<> showing = m_hudWindowController->shownForDictation(std::move(token));
    co_await std::move(showing);
}

void TessvaleApp::handleURL(const QUrl& url)
{
    m_coordinator->handleExternalAuthCallback(url);
}

void TessvaleApp::quit()
{
    if (m_quitting)
        return;
    m_quitting = true;
    qCInfo(lcApp) << "Quitting";
    // No dictation starts while quitting.
    m_shortcuts->stop();
    QTimer::singleShot(quitTimeout, this, &TessvaleApp::finishQuit);
    spawnOnMain(
        this, [this](CancelToken) { return quitTask(); }, QStringLiteral("quit"));
}

QCoro::Task<> TessvaleApp::quitTask()
{
    QPointer<TessvaleApp> self(this);
    QCoro::Task<> preparing = m_coordinator->prepareToQuit();
    co_await std::move(preparing);
    if (!self)
        co_return;
    finishQuit();
}

void TessvaleApp::finishQuit()
{
    if (m_exitRequested)
        return;
    m_exitRequested = true;
    QCoreApplication::exit(0);
}

} // namespace tessvale
