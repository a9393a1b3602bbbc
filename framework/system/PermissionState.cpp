#include "system/PermissionState.h"

namespace tessvale {

QString rawValue(PermissionState state)
{
    switch (state) {
    case PermissionState::notDetermined:
        return QStringLiteral("notDetermined");
    case PermissionState::denied:
        return QStringLiteral("denied");
    case PermissionState::authorized:
        return QStringLiteral("authorized");
    }
    return QString();
}

std::optional<PermissionState> permissionStateFromRawValue(const QString& value)
{
    for (PermissionState state :
        { PermissionState::notDetermined, PermissionState::denied, PermissionState::authorized }) {
        if (rawValue(state) == value)
            return state;
    }
    return std::nullopt;
}

} // namespace tessvale
