#pragma once

#include <QString>

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
    // Both return false and fill error with a description the user can read when the change failed.
    virtual bool registerApplication(QString* error) = 0;
    virtual bool unregisterApplication(QString* error) = 0;
};

} // namespace tessvale
