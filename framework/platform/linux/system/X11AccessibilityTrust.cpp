#include "platform/linux/system/X11AccessibilityTrust.h"

#include "platform/linux/X11Connection.h"

namespace tessvale {

bool X11AccessibilityTrust::isTrusted(QString* reason)
{
    return x11InputAccessAvailable(reason);
}

} // namespace tessvale
