#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "menu/MenuBarContentModel.h"

class QKeyEvent;
class QMenu;
class QWidget;

namespace tessvale {

class DictationCoordinator;
class MenuBarContentView;

// The application's presence on the desktop: a tray icon that follows the coordinator's symbol, with
// the menu content as its context menu and as a card that pops up on a left click. Where no tray host
// runs, the content shows in a small window instead, until a tray host appears.
class TrayController final : public QObject
{
    Q_OBJECT

public:
    // showSettings opens the Settings window ("Preferences...").
    TrayController(DictationCoordinator& coordinator, std::function<void()> showSetup, std::function<void()> quit,
        std::function<void()> showSettings = {}, QObject* parent = nullptr);
    ~TrayController() override;

    // Shows the tray icon, or the window where there is no tray host.
    void start();
    // A second start of the application: nothing while the tray icon shows, else the window again.
    void presentFromRelaunch();
    // The card under the tray icon (or under the mouse where the icon's place is unknown).
    void showPopup();

    bool isTrayIconShown() const;
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }
    QMenu* contextMenu() const { return m_menu.get(); }
    QWidget* popup() const { return m_popup.get(); }
    QWidget* fallbackWindow() const { return m_window.get(); }
    // While a tray host is awaited: how often to look for one.
    void setTrayPollInterval(std::chrono::milliseconds interval) { m_trayPoll.setInterval(interval); }

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void refresh();
    void phaseChanged(DictationPhase phase);
    bool menuShortcutPressed(const QKeyEvent& event);
    void rebuildMenu(const MenuBarContent& content);
    void showTrayIcon();
    void showFallbackWindow();
    void shapePopup();
    void checkForTrayHost();
    void watchEmbedding();

    DictationCoordinator& m_coordinator;
    std::function<void()> m_showSetup;
    std::function<void()> m_quit;
    std::function<void()> m_showSettings;
    QPointer<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QWidget> m_popup;
    std::unique_ptr<QWidget> m_window;
    MenuBarContent m_menuContent;
    QString m_iconName;
    DictationPhase m_phase = DictationPhase::signedOut;
    QTimer m_trayPoll;
    QPointer<QWidget> m_embeddedWindow;
    bool m_started = false;
};

} // namespace tessvale
