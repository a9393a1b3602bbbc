#pragma once

#include <optional>
#include <vector>

#include <QtGlobal>

namespace tessvale {

// The global keyboard listener's map from the platform's own key codes (those its key events carry)
// to the virtual key codes that shortcut bindings store, for anyone else who reads keys: a shortcut
// recorded in a window then holds exactly the codes the listener reports.
class KeyCodeTranslator
{
public:
    virtual ~KeyCodeTranslator() = default;

    // Reads the keyboard mapping again (the layout may have changed since the last reading).
    virtual void refresh() = 0;
    // Nothing for a key without a virtual code.
    virtual std::optional<quint16> keyCode(quint32 nativeKeyCode) const = 0;
    // The virtual codes of the keys held down right now, also those whose events went to another
    // client (a combination the window manager grabbed).
    virtual std::vector<quint16> heldKeyCodes() const = 0;
};

} // namespace tessvale
