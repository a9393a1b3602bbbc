#include "shortcuts/DictationShortcutEngine.h"

#include <algorithm>
#include <chrono>

#include <QTimer>

#include "async/Spawn.h"
#include "base/Logging.h"
#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

namespace {

double seconds(MonotonicTime time)
{
    return std::chrono::duration<double>(time).count();
}

const char* actionName(DictationShortcutAction action)
{
    switch (action) {
    case DictationShortcutAction::startPushToTalk:
        return "startPushToTalk";
    case DictationShortcutAction::stopPushToTalk:
        return "stopPushToTalk";
    case DictationShortcutAction::toggleHandsFree:
        return "toggleHandsFree";
    }
    return "unknown";
}

} // namespace

DictationShortcutEngine::DictationShortcutEngine(ShortcutBinding pushToTalkBinding, ShortcutBinding handsFreeBinding,
    ActionHandler actionHandler, ErrorHandler errorHandler, HandsFreeQuery isHandsFreeActive,
    MonitorFactory monitorFactory, Sleeper& sleeper, QObject* parent)
    : QObject(parent)
    , m_actionHandler(std::move(actionHandler))
    , m_errorHandler(std::move(errorHandler))
    , m_isHandsFreeActive(std::move(isHandsFreeActive))
    , m_pushToTalkBinding(pushToTalkBinding)
    , m_handsFreeBinding(handsFreeBinding)
    , m_recognizer(m_pushToTalkBinding, m_handsFreeBinding, holdThreshold, doubleTapThreshold)
    , m_monitorFactory(std::move(monitorFactory))
    , m_sleeper(sleeper)
{
}

DictationShortcutEngine::~DictationShortcutEngine()
{
    invalidateHoldTimer();
}

void DictationShortcutEngine::start()
{
    configureBindings(m_pushToTalkBinding, m_handsFreeBinding);
}

void DictationShortcutEngine::configureBindings(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree)
{
    auto validation = pushToTalk.validationError(DictationShortcutRole::pushToTalk);
    if (!validation)
        validation = handsFree.validationError(DictationShortcutRole::handsFreeToggle);
    if (validation) {
        qCCritical(lcShortcutEngine).noquote() << QStringLiteral("shortcut validation failed error=") + *validation;
        m_errorHandler(validation);
        return;
    }

    m_pushToTalkBinding = pushToTalk;
    m_handsFreeBinding = handsFree;
    // All gesture state is forgotten; a pending hold timer finds nothing armed when it fires.
    m_recognizer = ModifierGestureRecognizer(pushToTalk, handsFree, holdThreshold, doubleTapThreshold);
    m_handsFreeEndedAt.reset();
    m_handsFreeEndingReleasedAt.reset();

    if (!m_keyboardMonitor) {
        auto monitor = m_monitorFactory();
        QPointer<DictationShortcutEngine> self(this);
        try {
            monitor->start([self](const KeyboardShortcutEvent& event) { return self && self->handleEvent(event); });
        } catch (const KeyboardEventMonitorError& error) {
            const QString text = QStringLiteral("Unable to register shortcut ") + handsFree.displayLabel()
                + QStringLiteral(": ") + error.localizedDescription();
            qCCritical(lcShortcutEngine).noquote() << text;
            m_errorHandler(text);
            return;
        }
        m_keyboardMonitor = std::move(monitor);
    }

    const auto problem = platformProblem();
    if (problem)
        qCCritical(lcShortcutEngine).noquote() << *problem;
    m_errorHandler(problem);
    qCInfo(lcShortcutEngine).noquote() << QStringLiteral("shortcut bindings configured pushToTalk=")
            + pushToTalk.displayLabel() + QStringLiteral(" handsFree=") + handsFree.displayLabel();
}

// What keeps valid bindings from working on this keyboard and display: an invisible Fn key, or a key
// combination that cannot be claimed (its key press would also reach the focused application).
std::optional<QString> DictationShortcutEngine::platformProblem()
{
    std::vector<KeyboardEventMonitor::KeyCombo> combos;
    if (m_handsFreeBinding.gesture == ShortcutGesture::keyComboPress && m_handsFreeBinding.keyCode)
        combos.push_back({ *m_handsFreeBinding.keyCode, m_handsFreeBinding.modifiers });
    QString grabReason;
    const bool grabbed = m_keyboardMonitor->setSwallowedKeyCombos(combos, &grabReason);

    for (const ShortcutBinding* binding : { &m_pushToTalkBinding, &m_handsFreeBinding }) {
        if (!m_keyboardMonitor->canObserve(binding->modifiers)) {
            return QStringLiteral("This keyboard does not report the Fn key, so the shortcut ")
                + binding->displayLabel() + QStringLiteral(" cannot work. Record another shortcut.");
        }
    }
    if (!grabbed)
        return QStringLiteral("Unable to register shortcut ") + m_handsFreeBinding.displayLabel() + QStringLiteral(": ")
            + grabReason;
    return std::nullopt;
}

void DictationShortcutEngine::stop()
{
    invalidateHoldTimer();
    if (!m_keyboardMonitor)
        return;
    m_keyboardMonitor->stop();
    m_retiredMonitor = std::move(m_keyboardMonitor);
    QTimer::singleShot(0, this, [this] { m_retiredMonitor.reset(); });
}

bool DictationShortcutEngine::handleEvent(const KeyboardShortcutEvent& event)
{
    switch (event.kind) {
    case KeyboardShortcutEvent::Kind::flagsChanged:
        return handleModifierChange(event);
    case KeyboardShortcutEvent::Kind::keyDown:
        return handleKeyDown(event);
    case KeyboardShortcutEvent::Kind::monitorInterrupted:
        return handleInterruption();
    }
    return false;
}

bool DictationShortcutEngine::handleModifierChange(const KeyboardShortcutEvent& event)
{
    const ShortcutModifiers previous = m_recognizer.activeModifiers();
    qCDebug(lcShortcutEngine).noquote() << QStringLiteral("modifier event active=") + event.modifiers.displayLabel();
    const auto actions = m_recognizer.processModifierChange(event.modifiers, event.timestamp);
    if (m_handsFreeEndedAt && !m_handsFreeEndingReleasedAt && event.modifiers != m_pushToTalkBinding.modifiers)
        m_handsFreeEndingReleasedAt = event.timestamp;

    // Pressing the push-to-talk modifiers ends a hands-free dictation at once.
    if (m_isHandsFreeActive() && event.modifiers == m_pushToTalkBinding.modifiers) {
        m_recognizer.cancelPendingHold();
        invalidateHoldTimer();
        m_handsFreeEndedAt = event.timestamp;
        m_handsFreeEndingReleasedAt.reset();
        emitAction(DictationShortcutAction::toggleHandsFree, "pushShortcutWhileHandsFree");
        return true;
    }

    const bool tapPending = m_recognizer.consumePendingPushModifierTap();
    updateHoldTimer();
    const bool swallow = shouldSwallowModifierChange(previous, event.modifiers);
    for (const auto action : actions) {
        if (!startsDictation(action) || !isStartRefused(true, "modifierChange"))
            emitAction(action, "modifierChange");
    }
    if (tapPending && m_isHandsFreeActive()) {
        emitAction(DictationShortcutAction::toggleHandsFree, "pushShortcutTapWhileHandsFree");
        return true;
    }
    return swallow;
}

bool DictationShortcutEngine::handleKeyDown(const KeyboardShortcutEvent& event)
{
    const ShortcutBinding& combo = m_handsFreeBinding;
    if (combo.gesture != ShortcutGesture::keyComboPress || !combo.keyCode || !event.keyCode
        || *combo.keyCode != *event.keyCode || event.modifiers != combo.modifiers)
        return false;
    if (event.isRepeat) {
        qCDebug(lcShortcutEngine) << "ignored repeated keyDown for hands-free shortcut";
        return true;
    }
    m_recognizer.cancelPendingHold();
    invalidateHoldTimer();
    // The user pressed the whole combination to end hands-free, and its modifiers already did: the key
    // must not start the next dictation, however quickly that session has ended.
    const bool endsThatPress = m_handsFreeEndedAt && event.timestamp >= *m_handsFreeEndedAt
        && (!m_handsFreeEndingReleasedAt || event.timestamp <= *m_handsFreeEndingReleasedAt);
    m_handsFreeEndedAt.reset();
    m_handsFreeEndingReleasedAt.reset();
    if (endsThatPress && !m_isHandsFreeActive()) {
        qCDebug(lcShortcutEngine) << "ignored hands-free shortcut key after its modifiers ended hands-free";
        return true;
    }
    // Our own grab reported the press, so no other client holds the keyboard; the session may still
    // be locked without one.
    if (startsDictation(DictationShortcutAction::toggleHandsFree) && isStartRefused(false, "keyCombo"))
        return true;
    emitAction(DictationShortcutAction::toggleHandsFree, "keyCombo");
    return true;
}

bool DictationShortcutEngine::handleInterruption()
{
    invalidateHoldTimer();
    m_handsFreeEndedAt.reset();
    m_handsFreeEndingReleasedAt.reset();
    const auto actions = m_recognizer.processMonitoringInterruption();
    for (const auto action : actions)
        emitAction(action, "monitorInterrupted");
    return !actions.empty();
}

bool DictationShortcutEngine::startsDictation(DictationShortcutAction action) const
{
    return action == DictationShortcutAction::startPushToTalk
        || (action == DictationShortcutAction::toggleHandsFree && !m_isHandsFreeActive());
}

// Keys held while another client has the keyboard, or the session is locked, were not meant for us.
bool DictationShortcutEngine::isStartRefused(bool probeGrab, const char* reason)
{
    const auto block = m_keyboardMonitor ? m_keyboardMonitor->inputBlock(probeGrab) : std::nullopt;
    if (block)
        qCInfo(lcShortcutEngine).noquote()
            << QStringLiteral("shortcut ignored reason=%1: %2").arg(QLatin1String(reason), describe(*block));
    return block.has_value();
}

bool DictationShortcutEngine::shouldSwallowModifierChange(ShortcutModifiers previous, ShortcutModifiers active) const
{
    for (const ShortcutBinding* binding : { &m_pushToTalkBinding, &m_handsFreeBinding }) {
        const ShortcutModifiers set = binding->modifiers;
        if (set.contains(ShortcutModifiers::function) && (set == previous || set == active))
            return true;
    }
    return false;
}

void DictationShortcutEngine::updateHoldTimer()
{
    invalidateHoldTimer();
    if (!m_recognizer.hasPendingHold())
        return;
    m_holdTimer.emplace();
    // The deadline counts from the key event's own time, so a hold whose events were read late (a busy
    // main thread) starts as soon as it is seen to be long enough, not a full threshold later.
    const double threshold = m_recognizer.holdThreshold();
    const double remaining = *m_recognizer.holdArmedAt() + threshold - seconds(m_sleeper.now());
    const auto delay
        = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(std::clamp(remaining, 0.0, threshold)));
    QPointer<DictationShortcutEngine> self(this);
    Sleeper* sleeper = &m_sleeper;
    runDetached(
        [self, sleeper, delay](CancelToken token) { return runHoldTimer(self, sleeper, delay, std::move(token)); },
        m_holdTimer->token(), QStringLiteral("hold timer"));
}

void DictationShortcutEngine::invalidateHoldTimer()
{
    if (!m_holdTimer)
        return;
    m_holdTimer->cancel();
    m_holdTimer.reset();
}

QCoro::Task<> DictationShortcutEngine::runHoldTimer(
    QPointer<DictationShortcutEngine> engine, Sleeper* sleeper, Duration delay, CancelToken token)
{
    // A dropped timer's sleep throws, even when its time passed before the cancellation came.
    QCoro::Task<> waiting = sleeper->sleep(delay, token);
    co_await std::move(waiting);
    if (!engine)
        co_return;
    engine->holdTimerFired();
}

void DictationShortcutEngine::holdTimerFired()
{
    m_holdTimer.reset();
    // Tried on a copy: a start the session refuses leaves the hold cancelled instead of started.
    ModifierGestureRecognizer attempt = m_recognizer;
    const auto actions = attempt.processHoldDeadline(seconds(m_sleeper.now()));
    if (std::find(actions.begin(), actions.end(), DictationShortcutAction::startPushToTalk) != actions.end()
        && isStartRefused(true, "holdTimer")) {
        m_recognizer.cancelPendingHold();
        return;
    }
    m_recognizer = attempt;
    // An early firing re-arms a fresh timer while the hold is still pending.
    updateHoldTimer();
    for (const auto action : actions)
        emitAction(action, "holdTimer");
}

void DictationShortcutEngine::emitAction(DictationShortcutAction action, const char* reason)
{
    qCInfo(lcShortcutEngine).noquote()
        << QStringLiteral("shortcut action=%1 reason=%2").arg(QLatin1String(actionName(action)), QLatin1String(reason));
    m_actionHandler(action);
}

} // namespace tessvale
