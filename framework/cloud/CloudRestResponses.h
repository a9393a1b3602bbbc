#pragma once

#include <optional>

#include <QJsonValue>
#include <QString>
#include <QUrl>
#include <QUuid>

#include "cloud/DevicePlatform.h"
#include "cloud/FSharpUnionCase.h"
#include "cloud/WireDecoding.h"

namespace tessvale {

// Response bodies. Each `decode` reads one JSON object into a complete record or throws
// DecodingError: members PascalCase first, camelCase second, in the order of the fields below.
// The three service-supplied URLs that the client follows are checked against the decoder's
// trusted service domain. Parse and decode a body with decodeWireJSON<T>(bytes, decoder).

struct DeviceAuthStartResponse
{
    QUuid requestID;
    QString expiresAt;
    qint64 pollAfterSeconds = 0;
    QUrl approvalURL; // shown to the user only; not trust-checked

    static DeviceAuthStartResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct NativeAuthStartResponse
{
    QUuid attemptID;
    QUrl authorizationURL; // https on the trusted domain
    QString expiresAt;

    static NativeAuthStartResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct User
{
    QString id;
    QString email;

    bool operator==(const User& other) const = default;
    static User decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct DeviceSummary
{
    QUuid id;
    QString name;
    DevicePlatform platform = DevicePlatform::macOS;
    QString appVersion;
    std::optional<QString> createdAt;
    std::optional<QString> lastUsedAt;
    std::optional<QString> revokedAt;

    bool operator==(const DeviceSummary& other) const = default;
    static DeviceSummary decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct ClientMeResponse
{
    User user;
    DeviceSummary device;

    bool operator==(const ClientMeResponse& other) const = default;
    static ClientMeResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

inline constexpr qint64 kDefaultWebSocketPingIntervalSeconds = 15;

struct ClientConfigResponse
{
    QUrl webSocketURL; // wss on the trusted domain
    qint64 maxChunkBytes = 0;
    qint64 sampleRate = 0;
    qint64 webSocketPingIntervalSeconds = kDefaultWebSocketPingIntervalSeconds;

    bool operator==(const ClientConfigResponse& other) const = default;
    static ClientConfigResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct NativeAuthTokenResponse
{
    QString apiKey;
    ClientMeResponse me;
    ClientConfigResponse config;

    static NativeAuthTokenResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct DictationSessionRecoveryResponse
{
    QUuid sessionID;
    // The case name of an envelope, or the plain string the service sent.
    QString status;
    std::optional<QString> errorCode;
    std::optional<QString> errorDetail;
    std::optional<QString> rawText;
    std::optional<QString> finalText;
    std::optional<QString> checkpointedAt;
    bool hasRecoverableText = false;

    bool operator==(const DictationSessionRecoveryResponse& other) const = default;
    static DictationSessionRecoveryResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct ClientUpdateResponse
{
    QString platform;
    QString currentVersion;
    QString latestVersion;
    bool updateAvailable = false;
    QUrl downloadURL; // https on the trusted domain
    std::optional<QString> releaseNotes;

    bool operator==(const ClientUpdateResponse& other) const = default;
    static ClientUpdateResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct ApiKeySummary
{
    QString prefix;

    bool operator==(const ApiKeySummary& other) const = default;
    static ApiKeySummary decode(const QJsonValue& value, const WireDecoder& decoder);
};

// The state of a device sign-in request.
struct DeviceAuthStatus
{
    enum class Case {
        approved,
        pending,
        expired,
        canceled,
    };

    struct Approved
    {
        std::optional<QString> apiKey;
        DeviceSummary device;
        ApiKeySummary summary;

        bool operator==(const Approved& other) const = default;
    };

    Case statusCase = Case::pending;
    std::optional<Approved> approved; // present exactly for Case::approved

    bool operator==(const DeviceAuthStatus& other) const = default;
};

struct DeviceAuthStatusResponse
{
    QUuid requestIDValue;
    FSharpUnionCase statusValue; // must arrive as an envelope

    QUuid requestID() const { return requestIDValue; }
    // Computed from statusValue on every call. Throws CloudClientError::invalidResponse
    // ("Approved device auth payload was malformed.", "Unsupported device auth status: <case>")
    // or the DecodingError of the approved payload's device or key summary.
    DeviceAuthStatus status() const;

    static DeviceAuthStatusResponse decode(const QJsonValue& value, const WireDecoder& decoder);
};

} // namespace tessvale
