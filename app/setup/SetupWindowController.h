#pragma once

#include <functional>

#include <QRect>

#include "windows/AppWindowController.h"

namespace tessvale {

class SetupView;

// Owns the setup window around SetupView.
class SetupWindowController final : public AppWindowController
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

    // Builds the shortcuts card for the window, when the application has one; call before the
    // window is first built.
    void setShortcutsCardFactory(std::function<QWidget*()> factory) { m_shortcutsCardFactory = std::move(factory); }

    // The setup window, built on the first call and centred on the screen the user is on; the same
    // window afterwards.
    QWidget* ensureWindow();
    // Brings the window up in front of other applications, restoring it when minimized. Whether it
    // is shown afterwards.
    bool showSetupWindow();
    // Its content, with the window.
    SetupView* view() const { return m_view; }

private:
    SetupView* m_view = nullptr;
    std::function<QWidget*()> m_shortcutsCardFactory;
};

// Where the setup window comes up in a screen's available area: centred, whole with its title bar.
QRect setupWindowGeometry(const QRect& available);

} // namespace tessvale
