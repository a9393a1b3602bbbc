#include "cloud/CloudRestResponses.h"

#include <utility>

#include "cloud/CloudClientError.h"
#include "cloud/ServiceURLTrust.h"

namespace tessvale {

namespace {

// The two spellings of a member: PascalCase as given, then with a lower-case first letter.
QStringList keys(const char* pascalCase)
{
    const QString pascal = QString::fromLatin1(pascalCase);
    QString camel = pascal;
    camel[0] = camel[0].toLower();
    return { pascal, camel };
}

// Reads a URL member with the decoder at its key, for the trust check to run before anything else is read.
std::pair<QUrl, WireDecoder> urlMember(const KeyedDecodingContainer& container, const char* pascalCase)
{
    const QStringList candidates = keys(pascalCase);
    QUrl url = decodeFirstPresent<QUrl>(container, candidates);
    const AnyCodingKey key(container.requireFirstPresentKey(candidates));
    return { std::move(url), container.decoderForKey(key) };
}

QUrl trustedURL(
    const KeyedDecodingContainer& container, const char* pascalCase, const QString& scheme, const QString& failureText)
{
    const auto [url, decoder] = urlMember(container, pascalCase);
    return validatedServiceURL(url, scheme, failureText, decoder);
}

} // namespace

DeviceAuthStartResponse DeviceAuthStartResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    DeviceAuthStartResponse response;
    response.requestID = decodeFirstPresent<QUuid>(container, keys("RequestId"));
    response.expiresAt = decodeFirstPresent<QString>(container, keys("ExpiresAt"));
    response.pollAfterSeconds = decodeFirstPresent<qint64>(container, keys("PollAfterSeconds"));
    response.approvalURL = decodeFirstPresent<QUrl>(container, keys("ApprovalUrl"));
    return response;
}

NativeAuthStartResponse NativeAuthStartResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    NativeAuthStartResponse response;
    response.attemptID = decodeFirstPresent<QUuid>(container, keys("AttemptId"));
    const auto [authorizationURL, atAuthorizationURL] = urlMember(container, "AuthorizationUrl");
    response.authorizationURL
        = validatedSignInPageURL(authorizationURL, ServiceURLTrust::untrustedAuthorizationURL, atAuthorizationURL);
    response.expiresAt = decodeFirstPresent<QString>(container, keys("ExpiresAt"));
    return response;
}

User User::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    User user;
    user.id = decodeFirstPresent<QString>(container, keys("Id"));
    user.email = decodeFirstPresent<QString>(container, keys("Email"));
    return user;
}

DeviceSummary DeviceSummary::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    DeviceSummary device;
    device.id = decodeFirstPresent<QUuid>(container, keys("Id"));
    device.name = decodeFirstPresent<QString>(container, keys("Name"));
    device.platform = decodeFirstPresent<DevicePlatform>(container, keys("Platform"));
    device.appVersion = decodeFirstPresent<QString>(container, keys("AppVersion"));
    device.createdAt = decodeFirstPresentIfPresent<QString>(container, keys("CreatedAt"));
    device.lastUsedAt = decodeFirstPresentIfPresent<QString>(container, keys("LastUsedAt"));
    device.revokedAt = decodeFirstPresentIfPresent<QString>(container, keys("RevokedAt"));
    return device;
}

ClientMeResponse ClientMeResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    ClientMeResponse me;
    me.user = decodeFirstPresent<User>(container, keys("User"));
    me.device = decodeFirstPresent<DeviceSummary>(container, keys("Device"));
    return me;
}

ClientConfigResponse ClientConfigResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    ClientConfigResponse config;
    config.webSocketURL = trustedURL(
        container, "WebSocketUrl", ServiceURLTrust::webSocketScheme, ServiceURLTrust::untrustedWebSocketURL);
    config.maxChunkBytes = decodeFirstPresent<qint64>(container, keys("MaxChunkBytes"));
    config.sampleRate = decodeFirstPresent<qint64>(container, keys("SampleRate"));
    config.webSocketPingIntervalSeconds
        = decodeFirstPresentIfPresent<qint64>(container, keys("WebSocketPingIntervalSeconds"))
              .value_or(kDefaultWebSocketPingIntervalSeconds);
    return config;
}

NativeAuthTokenResponse NativeAuthTokenResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    NativeAuthTokenResponse response;
    response.apiKey = decodeFirstPresent<QString>(container, keys("ApiKey"));
    response.me = decodeFirstPresent<ClientMeResponse>(container, keys("Me"));
    response.config = decodeFirstPresent<ClientConfigResponse>(container, keys("Config"));
    return response;
}

DictationSessionRecoveryResponse DictationSessionRecoveryResponse::decode(
    const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    DictationSessionRecoveryResponse response;
    response.sessionID = decodeFirstPresent<QUuid>(container, keys("SessionId"));
    try {
        response.status = decodeFirstPresent<FSharpUnionCase>(container, keys("Status")).Case;
    } catch (const DecodingError&) {
        // Older services send the status as a plain string.
        response.status = decodeFirstPresent<QString>(container, keys("Status"));
    }
    response.errorCode = decodeFirstPresentIfPresent<QString>(container, keys("ErrorCode"));
    response.errorDetail = decodeFirstPresentIfPresent<QString>(container, keys("ErrorDetail"));
    response.rawText = decodeFirstPresentIfPresent<QString>(container, keys("RawText"));
    response.finalText = decodeFirstPresentIfPresent<QString>(container, keys("FinalText"));
    response.checkpointedAt = decodeFirstPresentIfPresent<QString>(container, keys("CheckpointedAt"));
    response.hasRecoverableText = decodeFirstPresent<bool>(container, keys("HasRecoverableText"));
    return response;
}

ClientUpdateResponse ClientUpdateResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    ClientUpdateResponse response;
    response.platform = decodeFirstPresent<QString>(container, keys("Platform"));
    response.currentVersion = decodeFirstPresent<QString>(container, keys("CurrentVersion"));
    response.latestVersion = decodeFirstPresent<QString>(container, keys("LatestVersion"));
    response.updateAvailable = decodeFirstPresent<bool>(container, keys("UpdateAvailable"));
    response.downloadURL
        = trustedURL(container, "DownloadUrl", ServiceURLTrust::httpsScheme, ServiceURLTrust::untrustedDownloadURL);
    response.releaseNotes = decodeFirstPresentIfPresent<QString>(container, keys("ReleaseNotes"));
    return response;
}

ApiKeySummary ApiKeySummary::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    ApiKeySummary summary;
    summary.prefix = decodeFirstPresent<QString>(container, keys("Prefix"));
    return summary;
}

DeviceAuthStatusResponse DeviceAuthStatusResponse::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    DeviceAuthStatusResponse response;
    response.requestIDValue = decodeFirstPresent<QUuid>(container, keys("RequestId"));
    response.statusValue = decodeFirstPresent<FSharpUnionCase>(container, keys("Status"));
    return response;
}

DeviceAuthStatus DeviceAuthStatusResponse::status() const
{
    const QString& name = statusValue.Case;
    DeviceAuthStatus status;
    if (name == QLatin1String("Pending")) {
        status.statusCase = DeviceAuthStatus::Case::pending;
        return status;
    }
    if (name == QLatin1String("Expired")) {
        status.statusCase = DeviceAuthStatus::Case::expired;
        return status;
    }
    if (name == QLatin1String("Canceled")) {
        status.statusCase = DeviceAuthStatus::Case::canceled;
        return status;
    }
    if (name != QLatin1String("Approved"))
        throw CloudClientError::invalidResponse(QStringLiteral("Unsupported device auth status: ") + name);

    if (!statusValue.Fields || statusValue.Fields->size() != 3)
        throw CloudClientError::invalidResponse(QStringLiteral("Approved device auth payload was malformed."));
    const QList<JSONValue>& fields = *statusValue.Fields;
    DeviceAuthStatus::Approved approved;
    approved.apiKey = fields.at(0).stringValue();
    // A fresh decoder, as for any payload carried inside "Fields".
    const WireDecoder payloadDecoder { QString {} };
    approved.device = fields.at(1).decode<DeviceSummary>(payloadDecoder);
    approved.summary = fields.at(2).decode<ApiKeySummary>(payloadDecoder);
    status.statusCase = DeviceAuthStatus::Case::approved;
    status.approved = approved;
    return status;
}

} // namespace tessvale
