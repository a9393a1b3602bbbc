#include "windows/shortcuts/ShortcutEditorModel.h"

#include "settings/AppSettings.h"

namespace tessvale {

namespace {

// What the user does to perform binding, to stand inside a sentence: "press Control + Alt + Space",
// "tap Alt twice", "hold Control + Alt". again marks a second performance.
QString gesturePhrase(const ShortcutBinding& binding, bool again)
{
    const QString keys = binding.modifiers.displayLabel();
    switch (binding.gesture) {
    case ShortcutGesture::holdModifiers:
        return QStringLiteral("hold ") + keys + (again ? QStringLiteral(" again") : QString());
    case ShortcutGesture::doubleTapModifiers:
        return QStringLiteral("tap ") + keys + QStringLiteral(" twice");
    case ShortcutGesture::keyComboPress:
        return QStringLiteral("press ") + binding.displayLabel() + (again ? QStringLiteral(" again") : QString());
    }
    return {};
}

QString capitalized(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

ShortcutCardModel shortcutCardModel(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree,
    const QString& lastShortcutError, const ShortcutRowState& pushToTalkState, const ShortcutRowState& handsFreeState)
{
    ShortcutCardModel model;
    model.title = QStringLiteral("Shortcuts");
    model.detail = QStringLiteral("Choose separate shortcuts for push to talk and hands-free dictation.");
    model.pushToTalk = shortcutRowModel(DictationShortcutRole::pushToTalk, QStringLiteral("Push to Talk"),
        QStringLiteral("Hold the shortcut to dictate. Release to stop."), pushToTalk, pushToTalkState);
    // Hands-free stops when its own shortcut is performed again or the push-to-talk keys are pressed.
    model.handsFree = shortcutRowModel(DictationShortcutRole::handsFreeToggle, QStringLiteral("Hands-Free Toggle"),
        capitalized(gesturePhrase(handsFree, false)) + QStringLiteral(" to start hands-free. While it is active, ")
            + gesturePhrase(handsFree, true) + QStringLiteral(" or press ") + pushToTalk.modifiers.displayLabel()
            + QStringLiteral(" to stop."),
        handsFree, handsFreeState);
    model.helpText = QStringLiteral(
        "Use Record Shortcut to customize either binding. Reset to Defaults restores the recommended pair.");
    model.resetTitle = QStringLiteral("Reset to Defaults");
    if (!lastShortcutError.isEmpty())
        model.errorText = lastShortcutError;
    return model;
}

ShortcutRowModel shortcutRowModel(DictationShortcutRole role, const QString& title, const QString& subtitle,
    const ShortcutBinding& binding, const ShortcutRowState& state)
{
    ShortcutRowModel model;
    model.title = title;
    model.subtitle = subtitle;
    model.bindingLabel = binding.displayLabel();
    model.recordButtonTitle
        = state.isRecording ? QStringLiteral("Cancel Recording") : QStringLiteral("Record Shortcut");
    if (state.isRecording)
        model.hint = recordingHint(role);
    model.refusal = state.refusal;
    return model;
}

QString recordingHint(DictationShortcutRole role)
{
    const ShortcutBinding example = AppSettings::defaultBinding(role);
    switch (role) {
    case DictationShortcutRole::handsFreeToggle:
        return QStringLiteral("Press a key combo with at least one modifier, like ") + example.modifiers.displayLabel()
            + QStringLiteral(" + ") + ShortcutBinding::keyDisplayName(example.keyCode) + QStringLiteral(".");
    case DictationShortcutRole::pushToTalk:
        break;
    }
    return QStringLiteral("Press and release the modifier shortcut you want to hold, like ")
        + example.modifiers.displayLabel() + QStringLiteral(".");
}

CaptureDecision decideCapture(DictationShortcutRole role, const ShortcutBinding& captured)
{
    if (std::optional<QString> error = captured.validationError(role))
        return { std::nullopt, *error };
    return { captured, std::nullopt };
}

QString desktopCombinationRefusal(ShortcutModifiers modifiers, std::optional<quint16> keyCode)
{
    QString combination = modifiers.displayLabel();
    if (keyCode)
        combination += QStringLiteral(" + ") + ShortcutBinding::keyDisplayName(*keyCode);
    return QStringLiteral("The desktop uses ") + combination + QStringLiteral("; choose another shortcut.");
}

} // namespace tessvale
