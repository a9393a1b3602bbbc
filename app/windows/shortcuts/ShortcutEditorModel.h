#pragma once

#include <optional>

#include <QString>

#include "settings/DictationShortcutRole.h"
#include "settings/ShortcutBinding.h"

namespace tessvale {

// What one shortcut row shows, from its binding and its own recording state.
struct ShortcutRowModel
{
    QString title;
    QString subtitle;
    QString bindingLabel;
    QString recordButtonTitle;
    // Only while recording.
    std::optional<QString> hint;
    // Why the last recorded shortcut was refused; the binding shown is the one that stands.
    std::optional<QString> refusal;

    bool operator==(const ShortcutRowModel&) const = default;
};

struct ShortcutRowState
{
    bool isRecording = false;
    std::optional<QString> refusal;
};

// What the Shortcuts card shows, from the two stored bindings and the engine's last complaint.
struct ShortcutCardModel
{
    QString title;
    QString detail;
    ShortcutRowModel pushToTalk;
    ShortcutRowModel handsFree;
    QString helpText;
    QString resetTitle;
    // Only when the engine complained.
    std::optional<QString> errorText;

    bool operator==(const ShortcutCardModel&) const = default;
};

ShortcutCardModel shortcutCardModel(const ShortcutBinding& pushToTalk, const ShortcutBinding& handsFree,
    const QString& lastShortcutError, const ShortcutRowState& pushToTalkState = {},
    const ShortcutRowState& handsFreeState = {});

ShortcutRowModel shortcutRowModel(DictationShortcutRole role, const QString& title, const QString& subtitle,
    const ShortcutBinding& binding, const ShortcutRowState& state);

// The hint while a row records; its example is the role's default, a shortcut the keyboard has.
QString recordingHint(DictationShortcutRole role);

// The binding a finished capture offers for the role, or why the settings store would refuse it.
// A refused capture is never assigned: assigning first would hand the invalid pair to the engine.
struct CaptureDecision
{
    std::optional<ShortcutBinding> accepted;
    std::optional<QString> refusal;
};
CaptureDecision decideCapture(DictationShortcutRole role, const ShortcutBinding& captured);

// The refusal when the window lost the keyboard while these keys were held: the desktop took the
// combination for itself (a window manager's menu, a workspace switch).
QString desktopCombinationRefusal(ShortcutModifiers modifiers, std::optional<quint16> keyCode);

} // namespace tessvale
