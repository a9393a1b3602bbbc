#pragma once

#include <optional>
#include <vector>

#include "settings/DictationShortcutAction.h"
#include "settings/ShortcutBinding.h"

namespace tessvale {

// The state machine behind modifier-only shortcuts: turns the sequence of held modifier sets, with
// their times, into a push-to-talk hold and a hands-free double tap. It owns no timer and no clock;
// times are seconds on the monotonic clock of the keyboard events.
class ModifierGestureRecognizer
{
public:
    using Actions = std::vector<DictationShortcutAction>;

    ModifierGestureRecognizer(ShortcutBinding pushToTalkBinding, ShortcutBinding handsFreeBinding, double holdThreshold,
        double doubleTapThreshold);

    Actions processModifierChange(ShortcutModifiers activeModifiers, double at);
    Actions processHoldDeadline(double at);
    // The listener was interrupted: the held keys are unknown.
    Actions processMonitoringInterruption();
    void cancelPendingHold();
    bool consumePendingPushModifierTap();

    bool hasPendingHold() const;
    double holdThreshold() const { return m_holdThreshold; }
    double doubleTapThreshold() const { return m_doubleTapThreshold; }
    ShortcutModifiers activeModifiers() const { return m_activeModifiers; }
    bool isPushToTalkActive() const { return m_pushToTalkActive; }
    // When the held set last became exactly the push-to-talk set, while that hold is in progress.
    std::optional<double> holdArmedAt() const { return m_holdArmedAt; }

private:
    Actions registerTap(ShortcutModifiers modifiers, double at);
    ShortcutModifiers pushToTalkSet() const { return m_pushToTalkBinding.modifiers; }
    std::optional<ShortcutModifiers> doubleTapSet() const;

    double m_holdThreshold;
    double m_doubleTapThreshold;
    ShortcutBinding m_pushToTalkBinding;
    ShortcutBinding m_handsFreeBinding;
    ShortcutModifiers m_activeModifiers;
    bool m_pushToTalkActive = false;
    std::optional<double> m_holdArmedAt;
    std::optional<double> m_lastTapAt;
    std::optional<ShortcutModifiers> m_lastTapModifiers;
    bool m_pendingPushModifierTap = false;
};

} // namespace tessvale
