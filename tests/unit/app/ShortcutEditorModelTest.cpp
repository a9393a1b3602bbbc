#include <gtest/gtest.h>

#include "settings/ModifierKeyCodes.h"
#include "support/settings/VocabularyPrinters.h"
#include "windows/shortcuts/ShortcutCaptureSession.h"
#include "windows/shortcuts/ShortcutEditorModel.h"

using namespace tessvale;
using Role = DictationShortcutRole;
using Gesture = ShortcutGesture;

namespace {

constexpr ShortcutModifiers control = ShortcutModifiers::control;
constexpr ShortcutModifiers option = ShortcutModifiers::option;
constexpr ShortcutModifiers shift = ShortcutModifiers::shift;
constexpr ShortcutModifiers command = ShortcutModifiers::command;
constexpr ShortcutModifiers function = ShortcutModifiers::function;

} // namespace

TEST(ShortcutEditorModel, TheCardNamesBothBindingsAndShowsTheEngineComplaintVerbatim)
{
    const ShortcutBinding pushToTalk { Gesture::holdModifiers, control | command, std::nullopt };
    const ShortcutBinding handsFree { Gesture::doubleTapModifiers, option, std::nullopt };
    ShortcutCardModel model = shortcutCardModel(pushToTalk, handsFree, QString());
    EXPECT_EQ(model.title, "Shortcuts");
    EXPECT_EQ(model.pushToTalk.bindingLabel, pushToTalk.displayLabel());
    // The hands-free subtitle says how to perform each binding, its own and the push-to-talk keys as stops.
    EXPECT_EQ(model.handsFree.subtitle,
        "Tap Alt twice to start hands-free. While it is active, tap Alt twice or press Control + Super to stop.");
    EXPECT_EQ(shortcutCardModel(ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle, QString())
                  .handsFree.subtitle,
        "Press Control + Alt + Space to start hands-free. While it is active, press Control + Alt + Space again or "
        "press Control + Alt to stop.");
    EXPECT_EQ(model.pushToTalk.recordButtonTitle, "Record Shortcut");
    EXPECT_EQ(model.pushToTalk.hint, std::nullopt);
    EXPECT_EQ(model.errorText, std::nullopt);

    model = shortcutCardModel(pushToTalk, handsFree, "Unable to <b>register</b>", { true, std::nullopt });
    EXPECT_EQ(model.errorText, "Unable to <b>register</b>");
    EXPECT_EQ(model.pushToTalk.recordButtonTitle, "Cancel Recording");
    EXPECT_EQ(model.handsFree.recordButtonTitle, "Record Shortcut");
}

TEST(ShortcutEditorModel, TheHintsNameTheDefaultsKeysWhichTheKeyboardHas)
{
    EXPECT_EQ(recordingHint(Role::pushToTalk),
        "Press and release the modifier shortcut you want to hold, like Control + Alt.");
    EXPECT_EQ(recordingHint(Role::handsFreeToggle),
        "Press a key combo with at least one modifier, like Control + Alt + Space.");
    EXPECT_FALSE(recordingHint(Role::pushToTalk).contains("Fn"));
    EXPECT_FALSE(recordingHint(Role::handsFreeToggle).contains("Fn"));
}

TEST(ShortcutEditorModel, ARefusedCaptureIsNeverOfferedAndSaysWhy)
{
    struct Row
    {
        Role role;
        ShortcutBinding captured;
        bool accepted;
    };
    const Row rows[] = {
        { Role::pushToTalk, { Gesture::holdModifiers, control | option, std::nullopt }, true },
        { Role::pushToTalk, { Gesture::holdModifiers, shift, std::nullopt }, false },
        { Role::handsFreeToggle, { Gesture::doubleTapModifiers, shift, std::nullopt }, false },
        { Role::handsFreeToggle, { Gesture::doubleTapModifiers, command, std::nullopt }, true },
        { Role::handsFreeToggle, { Gesture::keyComboPress, control, MacKeyCode::space }, true },
        { Role::handsFreeToggle, { Gesture::keyComboPress, control, ShortcutCaptureSession::unnamedKeyCode }, false },
    };
    for (const Row& row : rows) {
        const CaptureDecision decision = decideCapture(row.role, row.captured);
        EXPECT_EQ(decision.accepted.has_value(), row.accepted) << row.captured.displayLabel().toStdString();
        EXPECT_EQ(decision.refusal, row.captured.validationError(row.role))
            << row.captured.displayLabel().toStdString();
    }
}

// The capture rules on the session's handlers; the key events themselves are the widget test's.
TEST(ShortcutEditorModel, TheSessionCapturesTheUnionAtTheLastReleaseOrTheComboAtItsPress)
{
    struct Step
    {
        std::optional<ShortcutModifiers> modifiersNow; // a modifier change, else a key down
        std::optional<quint16> key = std::nullopt;
        ShortcutModifiers keyModifiers = {};
    };
    struct Row
    {
        const char* name;
        Role role;
        std::vector<Step> steps;
        std::optional<ShortcutBinding> captured;
        bool cancelled = false;
    };
    const std::vector<Row> rows = {
        { "hold Fn", Role::pushToTalk, { { function }, { ShortcutModifiers {} } },
            ShortcutBinding { Gesture::holdModifiers, function, std::nullopt } },
        { "Fn then Control, Fn up first", Role::pushToTalk,
            { { function }, { function | control }, { control }, { ShortcutModifiers {} } },
            ShortcutBinding { Gesture::holdModifiers, control | function, std::nullopt } },
        { "a key meanwhile changes nothing", Role::pushToTalk,
            { { control }, { std::nullopt, MacKeyCode::a, control }, { control | option }, { ShortcutModifiers {} } },
            ShortcutBinding { Gesture::holdModifiers, control | option, std::nullopt } },
        { "Super alone double-taps", Role::handsFreeToggle, { { command }, { ShortcutModifiers {} } },
            ShortcutBinding { Gesture::doubleTapModifiers, command, std::nullopt } },
        { "combo at the press", Role::handsFreeToggle, { { function }, { std::nullopt, MacKeyCode::space, function } },
            ShortcutBinding { Gesture::keyComboPress, function, MacKeyCode::space } },
        { "letters without or with Shift alone are ignored", Role::handsFreeToggle,
            { { std::nullopt, MacKeyCode::a, {} }, { std::nullopt, MacKeyCode::b, shift } }, std::nullopt },
        { "a release with no press seen", Role::pushToTalk, { { ShortcutModifiers {} } }, std::nullopt },
        { "Escape with modifiers held", Role::handsFreeToggle,
            { { control }, { std::nullopt, MacKeyCode::escape, control } }, std::nullopt, true },
    };
    for (const Row& row : rows) {
        std::optional<ShortcutBinding> captured;
        bool cancelled = false;
        ShortcutCaptureSession session(
            row.role, [&](const ShortcutBinding& binding) { captured = binding; }, [&] { cancelled = true; });
        for (const Step& step : row.steps) {
            if (step.modifiersNow)
                session.handleModifiersChanged(*step.modifiersNow);
            else
                session.handleKeyDown(step.key, step.keyModifiers);
        }
        EXPECT_EQ(captured, row.captured) << row.name;
        EXPECT_EQ(cancelled, row.cancelled) << row.name;
    }
}
