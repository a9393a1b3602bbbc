#pragma once

#include <chrono>
#include <memory>

#include <QObject>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "instance/SingleInstance.h"
#include "platform/PlatformServices.h"

class QNetworkAccessManager;

namespace tessvale {

class AppSettings;
class AudioCaptureService;
class CloudAPIClient;
class DesktopAppearance;
class DictationCoordinator;
class DictationHUDWindowController;
class FocusedAppDiagnosticsService;
class InitialSetupObserver;
class KeychainStore;
class LaunchAtLoginService;
class PermissionService;
class QuitSignalNotifier;
class OpenSettingsShortcut;
class SettingsWindowController;
class SetupWindowController;
class ShortcutWiring;
class TextInsertionService;
class TrayController;

// The application: builds every long-lived object once, in dependency order, wires the shortcuts,
// the sign-in callbacks and the windows to the coordinator, and tears everything down in reverse
// before the QApplication goes. The platform is built first and destroyed last.
class TessvaleApp final : public QObject
{
    Q_OBJECT

public:
    // How long quitting waits for the coordinator to cancel the dictation and restore the clipboard.
    static constexpr std::chrono::milliseconds quitTimeout { 500 };

    // instance, when given, is this process's claim on the user session: its URLs (the first one
    // from this process's own command line) go to the coordinator.
    explicit TessvaleApp(std::unique_ptr<SingleInstance> instance = nullptr, QObject* parent = nullptr);
    ~TessvaleApp() override;

    // The clean quit, from the menu, SIGINT or SIGTERM: no new dictation starts, the running one is
    // cancelled and a running paste restores the clipboard; the event loop ends when that is done,
    // or after quitTimeout at the latest.
    void quit();
    bool isQuitting() const { return m_quitting; }

    AppSettings& settings() const { return *m_settings; }
    DictationCoordinator& coordinator() const { return *m_coordinator; }
    SetupWindowController& setupWindowController() const { return *m_setupWindowController; }
    TrayController& tray() const { return *m_tray; }
    SettingsWindowController& settingsWindowController() const { return *m_settingsWindowController; }
    // Also what a shortcut recorder suspends (ShortcutEngineSuspension).
    ShortcutWiring& shortcuts() const { return *m_shortcuts; }

private:
    // The constructor's steps, in this order: the services up to the coordinator, the windows and the
    // shortcut engine over them, then the start of it all.
    void buildServices();
    void buildWindows();
    void start();
    QCoro::Task<> quitTask();
    void finishQuit();
    void handleURL(const QUrl& url);
    void presentFromRelaunch();
    // The coordinator's HUD seam, over the HUD window once it exists.
    QCoro::Task<> hudShownForDictation(CancelToken token);

    PlatformServices m_platform;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<DesktopAppearance> m_appearance;
    std::unique_ptr<AppSettings> m_settings;
    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnostics;
    std::shared_ptr<KeychainStore> m_keychain;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<CloudAPIClient> m_cloudAPI;
    std::shared_ptr<PermissionService> m_permissions;
    std::unique_ptr<AudioCaptureService> m_recorder;
    std::unique_ptr<TextInsertionService> m_textInsertion;
    std::unique_ptr<DictationCoordinator> m_coordinator;
    std::unique_ptr<LaunchAtLoginService> m_launchAtLogin;
    std::unique_ptr<SetupWindowController> m_setupWindowController;
    std::unique_ptr<DictationHUDWindowController> m_hudWindowController;
    // The Settings window, opened with Ctrl+, from any of the application's windows.
    std::unique_ptr<SettingsWindowController> m_settingsWindowController;
    std::unique_ptr<OpenSettingsShortcut> m_openSettingsShortcut;
    std::unique_ptr<ShortcutWiring> m_shortcuts;
    std::unique_ptr<InitialSetupObserver> m_initialSetupObserver;
    std::unique_ptr<TrayController> m_tray;
    std::unique_ptr<QuitSignalNotifier> m_quitSignals;
    bool m_quitting = false;
    bool m_exitRequested = false;
};

} // namespace tessvale
