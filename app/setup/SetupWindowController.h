#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QRect>

class QWidget;

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class LaunchAtLoginService;
class SetupView;

// Owns the setup window: built on first use, then kept; closing it only hides it, so the next
// presentation shows the same window where the user left it.
class SetupWindowController final : public QObject
{
    Q_OBJECT

public:
    static constexpr int contentWidth = 720;
    static constexpr int contentHeight = 760;
    static constexpr int minimumContentWidth = 540;
    static constexpr int minimumContentHeight = 480;

    SetupWindowController(AppSettings& settings, DictationCoordinator& coordinator, LaunchAtLoginService& launchAtLogin,
        QObject* parent = nullptr);
    ~SetupWindowController() override;

    // The setup window, built on the first call and centred on the screen the user is on; the same
    // window afterwards.
    // Builds the shortcuts card for the window, when the application has one; call before the
    // window is first built.
    void setShortcutsCardFactory(std::function<QWidget*()> factory) { m_shortcutsCardFactory = std::move(factory); }

    QWidget* ensureWindow();
    // Brings the window up in front of other applications, restoring it when minimized. Whether it
    // is shown afterwards.
    bool showSetupWindow();
    // The window if it was built.
    QWidget* window() const { return m_window.get(); }
    // Its content, with the window.
    SetupView* view() const { return m_view; }

    AppSettings& settings() const { return m_settings; }
    DictationCoordinator& coordinator() const { return m_coordinator; }
    LaunchAtLoginService& launchAtLogin() const { return m_launchAtLogin; }

private:
    AppSettings& m_settings;
    DictationCoordinator& m_coordinator;
    LaunchAtLoginService& m_launchAtLogin;
    std::unique_ptr<QWidget> m_window;
    SetupView* m_view = nullptr;
    std::function<QWidget*()> m_shortcutsCardFactory;
};

// Where the setup window comes up in a screen's available area: centred, whole with its title bar.
QRect setupWindowGeometry(const QRect& available);

} // namespace tessvale
