#include "system/LaunchAtLoginService.h"

#include "base/Logging.h"
#include "platform/system/LoginItemService.h"

namespace tessvale {

LaunchAtLoginService::LaunchAtLoginService(std::shared_ptr<LoginItemService> loginItem, QObject* parent)
    : QObject(parent)
    , m_loginItem(std::move(loginItem))
{
    refresh();
}

LaunchAtLoginService::~LaunchAtLoginService() = default;

void LaunchAtLoginService::setIsEnabled(bool value)
{
    m_isEnabled = value;
    emit isEnabledChanged(value);
}

void LaunchAtLoginService::setStatusDescription(const QString& value)
{
    m_statusDescription = value;
    emit statusDescriptionChanged(value);
}

void LaunchAtLoginService::setLastError(const QString& value)
{
    m_lastError = value;
    emit lastErrorChanged(value);
}

void LaunchAtLoginService::refresh()
{
    switch (m_loginItem->status()) {
    case LoginItemStatus::notRegistered:
        setIsEnabled(false);
        setStatusDescription(QStringLiteral("Disabled"));
        return;
    case LoginItemStatus::enabled:
        setIsEnabled(true);
        setStatusDescription(QStringLiteral("Enabled"));
        return;
    case LoginItemStatus::requiresApproval:
        setIsEnabled(false);
        setStatusDescription(QStringLiteral("Requires approval in Login Items"));
        return;
    case LoginItemStatus::notFound:
        setIsEnabled(false);
        setStatusDescription(QStringLiteral("App bundle not found"));
        return;
    case LoginItemStatus::unknown:
        break;
    }
    setIsEnabled(false);
    setStatusDescription(QStringLiteral("Unknown"));
}

void LaunchAtLoginService::setEnabled(bool enabled)
{
    const PlatformResult changed = enabled ? m_loginItem->registerApplication() : m_loginItem->unregisterApplication();
    if (changed) {
        setLastError(QString());
    } else {
        qCWarning(lcLaunchAtLogin).noquote()
            << (enabled ? "Enabling" : "Disabling") << "launch at login failed:" << changed.reason();
        setLastError(changed.reason());
    }
    refresh();
}

} // namespace tessvale
