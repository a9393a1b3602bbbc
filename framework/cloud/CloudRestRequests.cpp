#include "cloud/CloudRestRequests.h"

#include "cloud/WireDecoding.h"

namespace tessvale {

namespace {
const QString macOSCase = QStringLiteral("MacOS");
const QString s256Case = QStringLiteral("S256");
} // namespace

DeviceAuthStartRequest::DeviceAuthStartRequest(
    const QString& emailValue, const QString& deviceNameValue, const QString& appVersionValue)
    : email(emailValue)
    , deviceName(deviceNameValue)
    , platform(macOSCase)
    , appVersion(appVersionValue)
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

NativeAuthStartRequest::NativeAuthStartRequest(const QString& deviceNameValue, const QString& appVersionValue,
    const QString& codeChallengeValue, const QString& redirectURIValue, const QString& stateValue)
    : deviceName(deviceNameValue)
    , platform(macOSCase)
    , appVersion(appVersionValue)
    , codeChallenge(codeChallengeValue)
    , codeChallengeMethod(s256Case)
    , redirectURI(redirectURIValue)
    , state(stateValue)
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

NativeAuthTokenRequest::NativeAuthTokenRequest(const QUuid& attemptIDValue, const QString& codeValue,
    const QString& codeVerifierValue, const QString& redirectURIValue)
    : attemptID(attemptIDValue)
    , code(codeValue)
    , codeVerifier(codeVerifierValue)
    , redirectURI(redirectURIValue)
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
