#pragma once

#include <QString>

#include "system/PermissionState.h"

namespace tessvale {

// A permission's state as both windows show it.
inline QString permissionStateText(PermissionState state)
{
    switch (state) {
    case PermissionState::notDetermined:
        return QStringLiteral("Not Determined");
    case PermissionState::denied:
        return QStringLiteral("Denied");
    case PermissionState::authorized:
        return QStringLiteral("Authorized");
    }
    return QStringLiteral("Not Determined");
}

} // namespace tessvale
