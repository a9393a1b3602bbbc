#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/Sleeper.h"
#include "settings/DictationShortcutAction.h"
#include "settings/ShortcutBinding.h"
#include "shortcuts/KeyboardEventMonitor.h"
#include "shortcuts/ModifierGestureRecognizer.h"

namespace tessvale {

// Turns the keyboard into dictation commands: keeps the push-to-talk and hands-free bindings, listens
// through a KeyboardEventMonitor, recognizes holds and double taps, runs the hold timer, recognizes the
// hands-free key combination and reports actions and configuration problems. Main thread only; the
// handlers are called synchronously from keyboard events, so they must return quickly. No dictation
// starts while the keyboard belongs to someone else (a locked session, another client's grab);
// stopping one always works.
class DictationShortcutEngine final : public QObject
{
    Q_OBJECT

public:
    using ActionHandler = std::function<void(DictationShortcutAction)>;
    using ErrorHandler = std::function<void(const std::optional<QString>&)>;
    using HandsFreeQuery = std::function<bool()>;
    using MonitorFactory = std::function<std::unique_ptr<KeyboardEventMonitor>()>;

    static constexpr double holdThreshold = 0.22;
    static constexpr double doubleTapThreshold = 0.3;

    // monitorFactory makes the keyboard monitor each configuration uses (KeyboardEventMonitor::factory
    // over the platform); sleeper is the clock of the hold timer.
    DictationShortcutEngine(ShortcutBinding pushToTalkBinding, ShortcutBinding handsFreeBinding,
        ActionHandler actionHandler, ErrorHandler errorHandler, HandsFreeQuery isHandsFreeActive,
        MonitorFactory monitorFactory, Sleeper& sleeper, QObject* parent = nullptr);
    ~DictationShortcutEngine() override;

    void start();
    void configureBindings(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree);
    void stop();

    const ShortcutBinding& pushToTalkBinding() const { return m_pushToTalkBinding; }
    const ShortcutBinding& handsFreeBinding() const { return m_handsFreeBinding; }
    const ModifierGestureRecognizer& recognizer() const { return m_recognizer; }
    bool isMonitoring() const { return m_keyboardMonitor != nullptr; }
    bool hasHoldTimer() const { return m_holdTimer.has_value(); }

private:
    bool handleEvent(const KeyboardShortcutEvent& event);
    bool handleModifierChange(const KeyboardShortcutEvent& event);
    bool handleKeyDown(const KeyboardShortcutEvent& event);
    bool handleInterruption();
    bool shouldSwallowModifierChange(ShortcutModifiers previous, ShortcutModifiers active) const;
    bool startsDictation(DictationShortcutAction action) const;
    bool isStartRefused(bool probeGrab, const char* reason);
    std::optional<QString> platformProblem();

    void updateHoldTimer();
    void invalidateHoldTimer();
    void holdTimerFired();
    static QCoro::Task<> runHoldTimer(
        QPointer<DictationShortcutEngine> engine, Sleeper* sleeper, Duration delay, CancelToken token);

    void emitAction(DictationShortcutAction action, const char* reason);

    ActionHandler m_actionHandler;
    ErrorHandler m_errorHandler;
    HandsFreeQuery m_isHandsFreeActive;
    ShortcutBinding m_pushToTalkBinding;
    ShortcutBinding m_handsFreeBinding;
    ModifierGestureRecognizer m_recognizer;
    // When the push-to-talk modifiers last ended a hands-free dictation, and when they were let go: the
    // combination's key pressed in between (by its own timestamp, since the grab may report it after
    // the release) finishes that same press, however quickly the session ended.
    std::optional<double> m_handsFreeEndedAt;
    std::optional<double> m_handsFreeEndingReleasedAt;
    std::unique_ptr<KeyboardEventMonitor> m_keyboardMonitor;
    // A stopped monitor lives until the event loop runs again: stop() may be called from its handler.
    std::unique_ptr<KeyboardEventMonitor> m_retiredMonitor;
    // Each hold timer has a source of its own, cancelled when the timer is dropped or replaced.
    std::optional<CancelSource> m_holdTimer;
    MonitorFactory m_monitorFactory;
    Sleeper& m_sleeper;
};

} // namespace tessvale
