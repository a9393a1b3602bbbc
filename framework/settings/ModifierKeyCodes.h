#pragma once

#include <optional>

#include "settings/KeyCodes.h"
#include "settings/ShortcutModifiers.h"

namespace tessvale {

// The virtual key codes of the modifier keys, beside the named keys of settings/KeyCodes.h.
namespace MacKeyCode {
inline constexpr quint16 rightCommand = 54;
inline constexpr quint16 command = 55;
inline constexpr quint16 shift = 56;
inline constexpr quint16 capsLock = 57;
inline constexpr quint16 option = 58;
inline constexpr quint16 control = 59;
inline constexpr quint16 rightShift = 60;
inline constexpr quint16 rightOption = 61;
inline constexpr quint16 rightControl = 62;
inline constexpr quint16 function = 63;
} // namespace MacKeyCode

// The modifier a key sets while held (either side of a pair), or nothing for other keys.
std::optional<ShortcutModifiers> modifierForKeyCode(quint16 keyCode);

} // namespace tessvale
