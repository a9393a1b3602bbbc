#include "shortcuts/ModifierGestureRecognizer.h"

namespace tessvale {

namespace {

// Times are sums of decimal seconds, which binary doubles do not hold exactly: a difference within a
// nanosecond of a threshold counts as reaching it.
constexpr double timeTolerance = 1e-9;

} // namespace

ModifierGestureRecognizer::ModifierGestureRecognizer(ShortcutBinding pushToTalkBinding,
    ShortcutBinding handsFreeBinding, double holdThreshold, double doubleTapThreshold)
    : m_holdThreshold(holdThreshold)
    , m_doubleTapThreshold(doubleTapThreshold)
    , m_pushToTalkBinding(pushToTalkBinding)
    , m_handsFreeBinding(handsFreeBinding)
{
}

std::optional<ShortcutModifiers> ModifierGestureRecognizer::doubleTapSet() const
{
    if (m_handsFreeBinding.gesture != ShortcutGesture::doubleTapModifiers)
        return std::nullopt;
    return m_handsFreeBinding.modifiers;
}

ModifierGestureRecognizer::Actions ModifierGestureRecognizer::processModifierChange(
    ShortcutModifiers activeModifiers, double at)
{
    const ShortcutModifiers previous = m_activeModifiers;
    const ShortcutModifiers pushSet = pushToTalkSet();
    const auto tapSet = doubleTapSet();
    m_activeModifiers = activeModifiers;
    m_pendingPushModifierTap = false;

    if (activeModifiers != pushSet) {
        // Any change away from exactly the push-to-talk set ends push-to-talk, also adding a modifier.
        if (m_pushToTalkActive) {
            m_pushToTalkActive = false;
            m_holdArmedAt.reset();
            return { DictationShortcutAction::stopPushToTalk };
        }
        if (previous == pushSet && m_holdArmedAt) {
            Actions result;
            if (at - *m_holdArmedAt < m_holdThreshold - timeTolerance) {
                m_pendingPushModifierTap = true;
                if (tapSet && previous == *tapSet)
                    result = registerTap(previous, at);
            }
            m_holdArmedAt.reset();
            return result;
        }
        // Leaving the double-tap set counts as a tap however long it was held.
        if (tapSet && previous == *tapSet && activeModifiers != *tapSet)
            return registerTap(previous, at);
        return {};
    }
    if (activeModifiers != previous)
        m_holdArmedAt = at;
    return {};
}

ModifierGestureRecognizer::Actions ModifierGestureRecognizer::registerTap(ShortcutModifiers modifiers, double at)
{
    if (m_lastTapModifiers == modifiers && m_lastTapAt && at - *m_lastTapAt <= m_doubleTapThreshold + timeTolerance) {
        m_lastTapAt.reset();
        m_lastTapModifiers.reset();
        return { DictationShortcutAction::toggleHandsFree };
    }
    m_lastTapAt = at;
    m_lastTapModifiers = modifiers;
    return {};
}

ModifierGestureRecognizer::Actions ModifierGestureRecognizer::processHoldDeadline(double at)
{
    if (m_pushToTalkActive || !m_holdArmedAt || m_activeModifiers != pushToTalkSet()
        || at - *m_holdArmedAt < m_holdThreshold - timeTolerance)
        return {};
    m_pushToTalkActive = true;
    m_holdArmedAt.reset();
    // A hold cancels any half-done double tap.
    m_lastTapAt.reset();
    m_lastTapModifiers.reset();
    return { DictationShortcutAction::startPushToTalk };
}

ModifierGestureRecognizer::Actions ModifierGestureRecognizer::processMonitoringInterruption()
{
    m_activeModifiers = {};
    m_holdArmedAt.reset();
    m_lastTapAt.reset();
    m_lastTapModifiers.reset();
    m_pendingPushModifierTap = false;
    if (m_pushToTalkActive) {
        m_pushToTalkActive = false;
        return { DictationShortcutAction::stopPushToTalk };
    }
    return {};
}

void ModifierGestureRecognizer::cancelPendingHold()
{
    m_holdArmedAt.reset();
    m_pendingPushModifierTap = false;
}

bool ModifierGestureRecognizer::consumePendingPushModifierTap()
{
    const bool pending = m_pendingPushModifierTap;
    m_pendingPushModifierTap = false;
    return pending;
}

bool ModifierGestureRecognizer::hasPendingHold() const
{
    return m_holdArmedAt && !m_pushToTalkActive && m_activeModifiers == pushToTalkSet();
}

} // namespace tessvale
