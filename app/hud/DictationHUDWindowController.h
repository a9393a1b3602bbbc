#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/OneShot.h"
#include "hud/DictationHUDView.h"
#include "icons/SymbolIcons.h"

class QPropertyAnimation;
class QScreen;

namespace tessvale {

class DictationCoordinator;

// Owns the dictation HUD: a small window at the top centre of the screen under the mouse, shown while
// the coordinator wants it. The window never takes the focus, so the text keeps going to the
// application the user dictates into. Where a compositor runs it fades in and out; without one it
// shows and hides at once and its shape is cut to the capsule. The frames it places and logs are the
// capsule's; with a compositor the window around it has room for the shadow.
//
// A dictation (or a press that could not start one) that ends by a failure shows the window with the
// reason for as long as the coordinator tells it: on Linux the tray icon, which many desktops hide,
// cannot be the only sign. A click on it retries a failed insertion, or else opens the setup window.
class DictationHUDWindowController final : public QObject
{
    Q_OBJECT

public:
    static constexpr int fadeInMs = 180;
    static constexpr int fadeOutMs = 160;

    explicit DictationHUDWindowController(
        DictationCoordinator& coordinator, SymbolIconProvider icons = symbolIcon, QObject* parent = nullptr);
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
    // The coordinator's HUD seam: shows the window for the phase just published and completes once
    // the X server has it on screen (exposed), so the microphone opens only after that.
    QCoro::Task<> shownForDictation(CancelToken token);
    bool isShowingStartFailure() const { return m_showingStartFailure; }
    // What a click on a shown failure does when there is no insertion to retry.
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
    void followFailure();

    DictationCoordinator& m_coordinator;
    SymbolIconProvider m_icons;
    DictationHUDView* m_view = nullptr;
    QWidget* m_window = nullptr;
    qint64 m_visibilityGeneration = 0;
    QPointer<QPropertyAnimation> m_fade;
    std::function<bool()> m_compositorRunning;
    std::function<void()> m_showSetup;
    bool m_showingStartFailure = false;
    // Starts waiting for the window to come on screen.
    QList<OneShot<>> m_exposeWaiters;
    bool m_manualFadeClock = false;
};

} // namespace tessvale
