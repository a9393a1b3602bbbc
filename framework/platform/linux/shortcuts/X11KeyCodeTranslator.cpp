#include "platform/linux/shortcuts/X11KeyCodeTranslator.h"

#include "platform/linux/X11Connection.h"
#include "platform/linux/shortcuts/X11KeyMap.h"

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

} // namespace tessvale
