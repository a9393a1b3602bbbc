#pragma once

#include <functional>

#include <QRect>

#include "windows/AppWindowController.h"

namespace tessvale {

class SettingsView;

// Owns the Settings window around SettingsView.
class SettingsWindowController final : public AppWindowController
{
    Q_OBJECT

public:
    // Builds the shortcuts card for the view, when the application has one.
    using CardFactory = std::function<QWidget*(AppSettings&, DictationCoordinator&)>;

    SettingsWindowController(AppSettings& settings, DictationCoordinator& coordinator,
        LaunchAtLoginService& launchAtLogin, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    void setShortcutsCardFactory(CardFactory factory) { m_cardFactory = std::move(factory); }

    QWidget* ensureWindow();
    // Shows the window in front, restoring it when minimized; a hidden one comes up on the screen of
    // the pointer.
    void showSettingsWindow();
    SettingsView* view() const { return m_view; }

private:
    CardFactory m_cardFactory;
    SettingsView* m_view = nullptr;
};

// Where the Settings window comes up in a screen's available area: centred, and no taller than the
// area leaves room for, title bar included.
QRect settingsWindowGeometry(const QRect& available);

// Opens the Settings window with the platform's Preferences command (Ctrl+,) from any window of
// the application: one filter on the application sees the key before any widget does.
class OpenSettingsShortcut final : public QObject
{
    Q_OBJECT

public:
    explicit OpenSettingsShortcut(std::function<void()> open, QObject* parent = nullptr);
    ~OpenSettingsShortcut() override;

    static bool matches(int key, Qt::KeyboardModifiers modifiers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_open;
};

} // namespace tessvale
