#pragma once

#include <QString>

namespace tessvale {

// "Trusted for accessibility" on Linux: an X11 display that offers XInput2 (to observe keys) and
// XTest (to type and paste). Fills reason when it is not.
bool x11AccessibilityIsTrusted(QString* reason = nullptr);

} // namespace tessvale
