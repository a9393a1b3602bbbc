#include "platform/linux/shortcuts/X11KeyCodeTranslator.h"

#include "platform/linux/X11Connection.h"
#include "platform/linux/shortcuts/X11KeyMap.h"

#include <X11/Xlib.h>

namespace tessvale {

X11KeyCodeTranslator::X11KeyCodeTranslator() = default;

X11KeyCodeTranslator::~X11KeyCodeTranslator()
{
    // The map refers to the connection's display.
    m_map.reset();
}

void X11KeyCodeTranslator::refresh()
{
    m_map.reset();
    m_connection = X11Connection::open();
    if (m_connection)
        m_map = std::make_unique<X11KeyMap>(m_connection->display());
}

std::optional<quint16> X11KeyCodeTranslator::keyCode(quint32 nativeKeyCode) const
{
    if (!m_map)
        return std::nullopt;
    return m_map->keyCode(nativeKeyCode);
}

std::vector<quint16> X11KeyCodeTranslator::heldKeyCodes() const
{
    std::vector<quint16> held;
    if (!m_map || !m_connection)
        return held;
    char keys[32] = {};
    XQueryKeymap(m_connection->display(), keys);
    for (unsigned native = 0; native < 256; ++native) {
        if ((keys[native / 8] & (1 << (native % 8))) == 0)
            continue;
        if (const std::optional<quint16> code = m_map->keyCode(native))
            held.push_back(*code);
    }
    return held;
}

} // namespace tessvale
