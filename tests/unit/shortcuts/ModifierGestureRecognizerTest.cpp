#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/ShortcutBinding.h"
#include "shortcuts/ModifierGestureRecognizer.h"

using namespace tessvale;

namespace {

using Action = DictationShortcutAction;
constexpr auto start = Action::startPushToTalk;
constexpr auto stop = Action::stopPushToTalk;
constexpr auto toggle = Action::toggleHandsFree;

const ShortcutModifiers fn = ShortcutModifiers::function;
const ShortcutModifiers shift = ShortcutModifiers::shift;
const ShortcutModifiers none {};
const ShortcutModifiers controlOption = ShortcutModifiers::control | ShortcutModifiers::option;

ShortcutBinding hold(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::holdModifiers, modifiers, std::nullopt };
}
ShortcutBinding doubleTap(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::doubleTapModifiers, modifiers, std::nullopt };
}
ShortcutBinding combo(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::keyComboPress, modifiers, quint16(49) };
}

// One step fed to the recognizer, with the actions it must return.
struct Step
{
    enum Kind {
        change,
        deadline,
        interruption,
        cancel,
        consumeTap,
    };
    Kind kind;
    double at = 0;
    ShortcutModifiers modifiers {};
    std::vector<Action> expected {};
    bool expectedTap = false;
};

Step to(ShortcutModifiers modifiers, double at, std::vector<Action> expected = {})
{
    return { Step::change, at, modifiers, std::move(expected) };
}
Step deadlineAt(double at, std::vector<Action> expected = {})
{
    return { Step::deadline, at, {}, std::move(expected) };
}
Step interrupted(std::vector<Action> expected = {})
{
    return { Step::interruption, 0, {}, std::move(expected) };
}
Step cancelHold()
{
    return { Step::cancel };
}
Step tapPending(bool expected)
{
    return { Step::consumeTap, 0, {}, {}, expected };
}

struct Sequence
{
    std::string name;
    ShortcutBinding pushToTalk;
    ShortcutBinding handsFree;
    std::vector<Step> steps;
};

class RecognizerSequence : public ::testing::TestWithParam<Sequence>
{
};

TEST_P(RecognizerSequence, GivesTheExpectedActionsAtEachStep)
{
    const Sequence& sequence = GetParam();
    ModifierGestureRecognizer recognizer(sequence.pushToTalk, sequence.handsFree, 0.22, 0.3);
    for (size_t i = 0; i < sequence.steps.size(); ++i) {
        const Step& step = sequence.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        switch (step.kind) {
        case Step::change:
            EXPECT_EQ(recognizer.processModifierChange(step.modifiers, step.at), step.expected);
            break;
        case Step::deadline:
            EXPECT_EQ(recognizer.processHoldDeadline(step.at), step.expected);
            break;
        case Step::interruption:
            EXPECT_EQ(recognizer.processMonitoringInterruption(), step.expected);
            break;
        case Step::cancel:
            recognizer.cancelPendingHold();
            break;
        case Step::consumeTap:
            EXPECT_EQ(recognizer.consumePendingPushModifierTap(), step.expectedTap);
            break;
        }
    }
}

const std::vector<Sequence> sequences = {
    { "HoldStartsAtTheDeadlineAndReleaseStops", hold(fn), combo(fn),
        { to(fn, 0), deadlineAt(0.22, { start }), to(none, 1.0, { stop }) } },
    { "ShortPressIsATapOfThePushSet", hold(fn), combo(fn),
        { to(fn, 0), to(none, 0.1), tapPending(true), tapPending(false), deadlineAt(0.22) } },
    { "AddingAModifierDuringTheHoldLeavesATapAndNoStart", hold(fn), combo(fn),
        { to(fn, 0), to(fn | shift, 0.1), tapPending(true), deadlineAt(0.22) } },
    { "EarlyDeadlineKeepsTheHoldArmed", hold(fn), combo(fn),
        { to(fn, 0), deadlineAt(0.2), deadlineAt(0.25, { start }) } },
    { "AddingAModifierWhileActiveStopsAndReleasingItRearms", hold(fn), combo(fn),
        { to(fn, 0), deadlineAt(0.22, { start }), to(fn | shift, 0.5, { stop }), to(fn, 0.6), deadlineAt(0.7),
            deadlineAt(0.82, { start }) } },
    { "ReleaseAfterTheThresholdBeforeTheDeadlineIsNeitherTapNorStart", hold(fn), combo(fn),
        { to(fn, 0), to(none, 0.3), tapPending(false), deadlineAt(0.3) } },
    { "DoubleTapWithinThresholdTogglesInclusive", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0.9), to(none, 1.0), to(controlOption, 1.2), to(none, 1.3, { toggle }) } },
    { "LateSecondTapStartsANewPair", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0.9), to(none, 1.0), to(controlOption, 1.2), to(none, 1.31), to(controlOption, 1.5),
            to(none, 1.61, { toggle }) } },
    { "LongPressOfTheDoubleTapSetStillCountsAsATap", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0), to(none, 2.0), to(controlOption, 2.1), to(none, 2.2, { toggle }) } },
    { "LeavingTheDoubleTapSetByAddingAModifierCountsAsATap", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0), to(controlOption | shift, 0.1), to(none, 0.15), to(controlOption, 0.2),
            to(none, 0.3, { toggle }) } },
    { "ThirdTapStartsANewPair", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0), to(none, 0.1), to(controlOption, 0.2), to(none, 0.3, { toggle }),
            to(controlOption, 0.4), to(none, 0.5), to(controlOption, 0.6), to(none, 0.7, { toggle }) } },
    { "PushTapBetweenTheTwoTapsDoesNotBreakThePair", hold(controlOption), doubleTap(fn),
        { to(fn, 0), to(none, 0.05), to(controlOption, 0.1), to(none, 0.15), tapPending(true), to(fn, 0.2),
            to(none, 0.25, { toggle }) } },
    { "SharedSetDoubleTapTogglesAndMarksTaps", hold(fn), doubleTap(fn),
        { to(fn, 0), to(none, 0.1), tapPending(true), to(fn, 0.2), to(none, 0.35, { toggle }), tapPending(true) } },
    { "SharedSetHoldForgetsTheFirstTap", hold(fn), doubleTap(fn),
        { to(fn, 0), to(none, 0.1), to(fn, 0.15), deadlineAt(0.37, { start }), to(none, 0.4, { stop }), to(fn, 0.45),
            to(none, 0.5) } },
    { "InterruptionWhileActiveStopsOnce", hold(fn), combo(fn),
        { to(fn, 0), deadlineAt(0.22, { start }), interrupted({ stop }), interrupted(), to(none, 1.0) } },
    { "InterruptionForgetsArmedHoldAndTapMemory", hold(fn), doubleTap(controlOption),
        { to(controlOption, 0), to(none, 0.1), interrupted(), to(controlOption, 0.2), to(none, 0.3), to(fn, 0.4),
            interrupted(), deadlineAt(1.0) } },
    { "SameSetAgainChangesNothing", hold(fn), combo(fn),
        { to(fn, 0), to(fn, 0.1), deadlineAt(0.22, { start }), to(fn, 0.5), to(none, 0.6, { stop }) } },
    { "CancelledHoldNeedsANewPress", hold(controlOption), combo(controlOption),
        { to(controlOption, 0), cancelHold(), deadlineAt(0.5), to(none, 0.6), tapPending(false), to(controlOption, 0.7),
            deadlineAt(0.92, { start }) } },
    { "CancelKeepsAnActivePushToTalk", hold(controlOption), combo(controlOption),
        { to(controlOption, 0), deadlineAt(0.22, { start }), cancelHold(), to(none, 0.5, { stop }) } },
};

INSTANTIATE_TEST_SUITE_P(
    Sequences, RecognizerSequence, ::testing::ValuesIn(sequences), [](const auto& row) { return row.param.name; });

TEST(RecognizerState, PendingHoldOnlyWhileArmedOnExactlyThePushSet)
{
    ModifierGestureRecognizer recognizer(hold(controlOption), combo(controlOption), 0.22, 0.3);
    EXPECT_FALSE(recognizer.hasPendingHold());
    recognizer.processModifierChange(ShortcutModifiers::control, 0);
    EXPECT_FALSE(recognizer.hasPendingHold());
    recognizer.processModifierChange(controlOption, 0.05);
    EXPECT_TRUE(recognizer.hasPendingHold());
    recognizer.processHoldDeadline(0.3);
    EXPECT_FALSE(recognizer.hasPendingHold());
    EXPECT_TRUE(recognizer.isPushToTalkActive());
    EXPECT_DOUBLE_EQ(recognizer.holdThreshold(), 0.22);
    EXPECT_DOUBLE_EQ(recognizer.doubleTapThreshold(), 0.3);
}

} // namespace
