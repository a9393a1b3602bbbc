#pragma once

#include <QString>

#include "platform/PlatformResult.h"

namespace tessvale {

// Registration status of the application's login item.
enum class LoginItemStatus {
    notRegistered,
    enabled,
    requiresApproval,
    notFound,
    unknown,
};

// The system's login-item registration for the main application.
class LoginItemService
{
public:
    virtual ~LoginItemService() = default;

    virtual LoginItemStatus status() const = 0;
    // A failed change says why in words the user can read.
    virtual PlatformResult registerApplication() = 0;
    virtual PlatformResult unregisterApplication() = 0;
};

} // namespace tessvale
