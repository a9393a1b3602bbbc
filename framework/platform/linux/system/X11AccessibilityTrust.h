#pragma once

#include "platform/linux/BackendOnly.h"

#include "platform/system/AccessibilityTrust.h"

namespace tessvale {

// Trusted when an X server with XInput2 (to observe keys) and XTest (to type) can be reached.
class X11AccessibilityTrust final : public AccessibilityTrust
{
public:
    bool isTrusted(QString* reason = nullptr) override;
};

} // namespace tessvale
