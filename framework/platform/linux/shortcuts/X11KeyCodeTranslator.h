#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>

#include "platform/shortcuts/KeyCodeTranslator.h"

namespace tessvale {

class X11Connection;
class X11KeyMap;

// The X11 key map of the keyboard listener and the key grabber, over a connection of its own that is
// opened again at each refresh (a connection that reads no events never learns of a new mapping).
// Without an X server every key is without a code.
class X11KeyCodeTranslator final : public KeyCodeTranslator
{
public:
    X11KeyCodeTranslator();
    ~X11KeyCodeTranslator() override;

    void refresh() override;
    std::optional<quint16> keyCode(quint32 nativeKeyCode) const override;
    std::vector<quint16> heldKeyCodes() const override;

private:
    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<X11KeyMap> m_map;
};

} // namespace tessvale
