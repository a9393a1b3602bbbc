#include "platform/linux/system/X11AccessibilityCheck.h"

#include "platform/linux/X11Connection.h"

namespace tessvale {

bool x11AccessibilityIsTrusted(QString* reason)
{
    QString why;
    bool trusted = false;
    if (auto connection = X11Connection::open(&why)) {
        if (!connection->hasXInput2())
            why = QStringLiteral("The X server lacks the XInput2 extension needed to observe the keyboard.");
        else if (!connection->hasXTest())
            why = QStringLiteral("The X server lacks the XTest extension needed to type and paste.");
        else
            trusted = true;
    }
    if (reason)
        *reason = trusted ? QString() : why;
    return trusted;
}

} // namespace tessvale
