#pragma once

#include <optional>

#include <QJsonValue>
#include <QString>

#include "cloud/WireDecoding.h"

// moc preprocesses in GNU mode, where "linux" is a predefined macro; the compiler does not.
#if defined(Q_MOC_RUN) && defined(linux)
#undef linux
#endif

namespace tessvale {

// The platform of a device record. Raw values "MacOS" and "Linux".
enum class DevicePlatform {
    macOS,
    linux,
};

QString rawValue(DevicePlatform platform);
// Only the exact raw values "MacOS" and "Linux".
std::optional<DevicePlatform> devicePlatformFromRawValue(const QString& rawValue);
// "MacOS"/"macos" and "Linux"/"linux"; every other text (other capitalisations too) gives nothing.
std::optional<DevicePlatform> devicePlatformFromString(const QString& text);

// An envelope {"Case": ...} (its "Fields" ignored) or else a plain string, each mapped by
// devicePlatformFromString; an unknown text fails with dataCorrupted "Unsupported platform <text>".
template <> DevicePlatform decodeWireValue<DevicePlatform>(const QJsonValue& value, const WireDecoder& decoder);
// The raw value as a plain string, not an envelope.
QJsonValue toJSON(DevicePlatform platform);

} // namespace tessvale
