#include "windows/shortcuts/ShortcutEditorModel.h"

#include "settings/AppSettings.h"

namespace tessvale {

ShortcutCardModel shortcutCardModel(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree,
    const QString& lastShortcutError, const ShortcutRowState& pushToTalkState, const ShortcutRowState& handsFreeState)
{
    ShortcutCardModel model;
    model.title = QStringLiteral("Shortcuts");
    model.detail = QStringLiteral("Choose separate shortcuts for push to talk and hands-free dictation.");
    model.pushToTalk = shortcutRowModel(DictationShortcutRole::pushToTalk, QStringLiteral("Push to Talk"),
        QStringLiteral("Hold the shortcut to dictate. Release to stop."), pushToTalk, pushToTalkState);
    // Hands-free is stopped with the push-to-talk shortcut, so that one is named second.
    model.handsFree = shortcutRowModel(DictationShortcutRole::handsFreeToggle, QStringLiteral("Hands-Free Toggle"),
        QStringLiteral("Start hands-free with ") + handsFree.displayLabel()
            + QStringLiteral(". While it is active, tap ") + pushToTalk.displayLabel() + QStringLiteral(" to stop."),
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
