#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include "cloud/FSharpUnionCase.h"

namespace tessvale {

// Request bodies. Each is written as one JSON object with every member present, PascalCase names,
// strings unchanged, identifiers in lower case and enumerations as {"Case": ...} envelopes.

struct DeviceAuthStartRequest
{
    DeviceAuthStartRequest(const QString& email, const QString& deviceName, const QString& appVersion);

    QString email;
    QString deviceName;
    FSharpUnionCase platform; // always {"Case":"MacOS"}
    QString appVersion;

    QJsonObject toJSON() const;
    QByteArray encoded() const;
};

struct NativeAuthStartRequest
{
    NativeAuthStartRequest(const QString& deviceName, const QString& appVersion, const QString& codeChallenge,
        const QString& redirectURI, const QString& state);

    QString deviceName;
    FSharpUnionCase platform; // always {"Case":"MacOS"}
    QString appVersion;
    QString codeChallenge;
    FSharpUnionCase codeChallengeMethod; // always {"Case":"S256"}
    QString redirectURI;
    QString state;

    QJsonObject toJSON() const;
    QByteArray encoded() const;
};

struct NativeAuthTokenRequest
{
    NativeAuthTokenRequest(
        const QUuid& attemptID, const QString& code, const QString& codeVerifier, const QString& redirectURI);

    QUuid attemptID;
    QString code;
    QString codeVerifier;
    QString redirectURI;

    QJsonObject toJSON() const;
    QByteArray encoded() const;
};

} // namespace tessvale
