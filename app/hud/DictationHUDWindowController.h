#pragma once

#include <chrono>
#include <functional>

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/TaskHandle.h"
#include "hud/DictationHUDView.h"
#include "icons/SymbolIcons.h"

class QPropertyAnimation;
class QScreen;

namespace tessvale {

class DictationCoordinator;
class Sleeper;

// Owns the dictation HUD: a small window at the top centre of the screen under the mouse, shown while
// the coordinator wants it. The window never takes the focus, so the text keeps going to the
// application the user dictates into. Where a compositor runs it fades in and out; without one it
// shows and hides at once and its shape is cut to the capsule. The frames it places and logs are the
// capsule's; with a compositor the window around it has room for the shadow.
//
// A shortcut press that ends in an error before any recording shows the window with the error for a
// moment: on Linux the tray icon, which many desktops hide, cannot be the only sign. A click on it
// then opens the setup window.
class DictationHUDWindowController final : public QObject
{
    Q_OBJECT

public:
    static constexpr int fadeInMs = 180;
    static constexpr int fadeOutMs = 160;
    static constexpr std::chrono::milliseconds startFailureShownFor { 2500 };

    // sleeper times how long a start failure stays shown.
    explicit DictationHUDWindowController(DictationCoordinator& coordinator, SymbolIconProvider icons = symbolIcon,
        Sleeper* sleeper = nullptr, QObject* parent = nullptr);
    ~DictationHUDWindowController() override;

    // Shows or hides the window as the coordinator's shouldShowHUD says.
    void updateVisibility(bool animated);
    // Places the window on the target screen; its size never changes here.
    void updateFrame();
    void show(bool animated);
    void hide(bool animated);
    // The screen under the mouse, else the primary screen, else the first; none without screens.
    QScreen* targetScreen() const;

    QWidget* window() const { return m_window; }
    DictationHUDView* view() const { return m_view; }
    qint64 visibilityGeneration() const { return m_visibilityGeneration; }
    // A dictation shortcut was pressed: when the coordinator's next phase is an error (after no more
    // than starting), the window shows it for startFailureShownFor.
    void watchShortcutStart();
    bool isShowingStartFailure() const { return m_showingStartFailure; }
    // What a click on a shown start failure does.
    void setShowSetup(std::function<void()> showSetup) { m_showSetup = std::move(showSetup); }

    // Replaces the compositor query (tests drive both kinds of desktop).
    void setCompositorProbe(std::function<bool()> probe) { m_compositorRunning = std::move(probe); }
    // Puts the fades on a clock of the caller's: each then waits at its start and moves only through
    // advanceFade() (tests step through a fade whatever the machine's load).
    void setManualFadeClock(bool manual) { m_manualFadeClock = manual; }
    void advanceFade(int ms);

private:
    QWidget* makePanel();
    void watchScreen(QScreen* screen);
    void applyShape(bool compositing);
    void fade(qreal to, int durationMs, std::function<void()> finished);
    void stopFade();
    void finishFadeOut(qint64 generation);
    bool isWanted() const;
    void phaseDelivered(DictationPhase phase);
    void showStartFailure();
    void endStartFailure();
    QCoro::Task<> endStartFailureLater(quint64 failure, CancelToken token);

    DictationCoordinator& m_coordinator;
    SymbolIconProvider m_icons;
    DictationHUDView* m_view = nullptr;
    QWidget* m_window = nullptr;
    qint64 m_visibilityGeneration = 0;
    QPointer<QPropertyAnimation> m_fade;
    std::function<bool()> m_compositorRunning;
    Sleeper& m_sleeper;
    std::function<void()> m_showSetup;
    bool m_watchingShortcutStart = false;
    bool m_showingStartFailure = false;
    quint64 m_startFailureGeneration = 0;
    TaskHandle m_startFailureTimer;
    CancelSource m_lifetime;
    bool m_manualFadeClock = false;
};

} // namespace tessvale
