#pragma once

#include "platform/linux/BackendOnly.h"

#include <array>
#include <optional>
#include <vector>

#include <QtGlobal>

typedef struct _XDisplay Display;

namespace tessvale {

// Translates X11 key codes (through the keysym at their first level) to the virtual key codes that
// shortcut bindings store, and back. Also knows which X modifier mask each modifier key sets.
// Read from the server at construction and again at refresh(), after the keyboard mapping changed.
class X11KeyMap
{
public:
    explicit X11KeyMap(Display* display);

    void refresh();

    std::optional<quint16> keyCode(unsigned nativeKeyCode) const;
    // Every X key code whose first-level keysym is the key's; empty when the keyboard has none.
    std::vector<unsigned> nativeKeyCodes(quint16 keyCode) const;
    bool hasFunctionKey() const;

    // The X modifier mask set by the modifier key with this virtual code (either side), 0 when the
    // key is not on any modifier of the server's modifier mapping.
    unsigned modifierMask(quint16 modifierKeyCode) const;
    // The masks of Num Lock (0 when absent) and Caps Lock, which a passive grab must ignore.
    unsigned numLockMask() const { return m_numLockMask; }
    unsigned capsLockMask() const;

    static std::optional<quint16> keyCodeForKeysym(unsigned long keysym);
    // 0 (NoSymbol) for a code without keysym.
    static unsigned long keysymForKeyCode(quint16 keyCode);

private:
    Display* m_display;
    std::array<std::optional<quint16>, 256> m_keyCodes {};
    std::array<unsigned, 256> m_modifierMasks {};
    unsigned m_numLockMask = 0;
};

} // namespace tessvale
