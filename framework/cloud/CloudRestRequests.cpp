#include "cloud/CloudRestRequests.h"

#include "cloud/WireDecoding.h"

namespace tessvale {

namespace {
const QString macOSCase = QStringLiteral("MacOS");
const QString s256Case = QStringLiteral("S256");
} // namespace

DeviceAuthStartRequest::DeviceAuthStartRequest(
    const QString& email, const QString& deviceName, const QString& appVersion)
    : email(email)
    , deviceName(deviceName)
    , platform(macOSCase)
    , appVersion(appVersion)
{
}

QJsonObject DeviceAuthStartRequest::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("Email"), email },
        { QStringLiteral("DeviceName"), deviceName },
        { QStringLiteral("Platform"), platform.toJSON() },
        { QStringLiteral("AppVersion"), appVersion },
    };
}

QByteArray DeviceAuthStartRequest::encoded() const
{
    return encodeWireJSON(toJSON());
}

NativeAuthStartRequest::NativeAuthStartRequest(const QString& deviceName, const QString& appVersion,
    const QString& codeChallenge, const QString& redirectURI, const QString& state)
    : deviceName(deviceName)
    , platform(macOSCase)
    , appVersion(appVersion)
    , codeChallenge(codeChallenge)
    , codeChallengeMethod(s256Case)
    , redirectURI(redirectURI)
    , state(state)
{
}

QJsonObject NativeAuthStartRequest::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("DeviceName"), deviceName },
        { QStringLiteral("Platform"), platform.toJSON() },
        { QStringLiteral("AppVersion"), appVersion },
        { QStringLiteral("CodeChallenge"), codeChallenge },
        { QStringLiteral("CodeChallengeMethod"), codeChallengeMethod.toJSON() },
        { QStringLiteral("RedirectUri"), redirectURI },
        { QStringLiteral("State"), state },
    };
}

QByteArray NativeAuthStartRequest::encoded() const
{
    return encodeWireJSON(toJSON());
}

NativeAuthTokenRequest::NativeAuthTokenRequest(
    const QUuid& attemptID, const QString& code, const QString& codeVerifier, const QString& redirectURI)
    : attemptID(attemptID)
    , code(code)
    , codeVerifier(codeVerifier)
    , redirectURI(redirectURI)
{
}

QJsonObject NativeAuthTokenRequest::toJSON() const
{
    return QJsonObject {
        { QStringLiteral("AttemptId"), lowercaseUUIDText(attemptID) },
        { QStringLiteral("Code"), code },
        { QStringLiteral("CodeVerifier"), codeVerifier },
        { QStringLiteral("RedirectUri"), redirectURI },
    };
}

QByteArray NativeAuthTokenRequest::encoded() const
{
    return encodeWireJSON(toJSON());
}

} // namespace tessvale
