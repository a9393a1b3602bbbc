#include "cloud/DevicePlatform.h"

#include "cloud/FSharpUnionCase.h"

namespace tessvale {

namespace {

[[noreturn]] void throwUnsupportedPlatform(const QString& text, const WireDecoder& decoder)
{
    throw DecodingError::dataCorrupted(decoder.codingPath(), QStringLiteral("Unsupported platform ") + text);
}

} // namespace

QString rawValue(DevicePlatform platform)
{
    switch (platform) {
    case DevicePlatform::macOS:
        return QStringLiteral("MacOS");
    case DevicePlatform::linux:
        return QStringLiteral("Linux");
    }
    return {};
}

std::optional<DevicePlatform> devicePlatformFromRawValue(const QString& text)
{
    if (text == QLatin1String("MacOS"))
        return DevicePlatform::macOS;
    if (text == QLatin1String("Linux"))
        return DevicePlatform::linux;
    return std::nullopt;
}

std::optional<DevicePlatform> devicePlatformFromString(const QString& text)
{
    if (text == QLatin1String("MacOS") || text == QLatin1String("macos"))
        return DevicePlatform::macOS;
    if (text == QLatin1String("Linux") || text == QLatin1String("linux"))
        return DevicePlatform::linux;
    return std::nullopt;
}

template <> DevicePlatform decodeWireValue<DevicePlatform>(const QJsonValue& value, const WireDecoder& decoder)
{
    std::optional<FSharpUnionCase> envelope;
    try {
        envelope = FSharpUnionCase::decode(value, decoder);
    } catch (const DecodingError&) {
        // Not an envelope: the service may send the plain string instead.
    }
    const QString text = envelope ? envelope->Case : decodeWireValue<QString>(value, decoder);
    if (const std::optional<DevicePlatform> platform = devicePlatformFromString(text))
        return *platform;
    throwUnsupportedPlatform(text, decoder);
}

QJsonValue toJSON(DevicePlatform platform)
{
    return rawValue(platform);
}

} // namespace tessvale
