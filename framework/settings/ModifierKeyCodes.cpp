#include "settings/ModifierKeyCodes.h"

namespace tessvale {

std::optional<ShortcutModifiers> modifierForKeyCode(quint16 keyCode)
{
    switch (keyCode) {
    case MacKeyCode::control:
    case MacKeyCode::rightControl:
        return ShortcutModifiers::control;
    case MacKeyCode::option:
    case MacKeyCode::rightOption:
        return ShortcutModifiers::option;
    case MacKeyCode::shift:
    case MacKeyCode::rightShift:
        return ShortcutModifiers::shift;
    case MacKeyCode::command:
    case MacKeyCode::rightCommand:
        return ShortcutModifiers::command;
    case MacKeyCode::function:
        return ShortcutModifiers::function;
    default:
        return std::nullopt;
    }
}

} // namespace tessvale
