#pragma once

#include <optional>

#include <QString>

namespace tessvale {

enum class PermissionState {
    notDetermined,
    denied,
    authorized,
};

// "notDetermined", "denied", "authorized".
QString rawValue(PermissionState state);
// No value for any other text.
std::optional<PermissionState> permissionStateFromRawValue(const QString& rawValue);

struct PermissionSnapshot
{
    PermissionState microphone = PermissionState::notDetermined;
    PermissionState accessibility = PermissionState::notDetermined;

    friend bool operator==(const PermissionSnapshot&, const PermissionSnapshot&) = default;
};

} // namespace tessvale
