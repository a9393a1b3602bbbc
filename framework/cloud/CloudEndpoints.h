#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tessvale {

// The header that carries the API key on REST calls and on the streaming connection.
inline const QByteArray cloudApiKeyHeader = QByteArrayLiteral("x-tessvale-api-key");

// Where the cloud service lives and which domain the URLs it hands out must belong to.
struct CloudEndpoints
{
    QUrl webOrigin;
    QUrl restOrigin;
    // Lower-case domain name; service-supplied URLs must have this host or a subdomain of it.
    QString serviceDomain;

    // The compiled-in deployment configuration.
    static CloudEndpoints defaults();
    // The defaults, each overridden by TESSVALE_WEB_ORIGIN, TESSVALE_REST_ORIGIN and
    // TESSVALE_SERVICE_DOMAIN when those are set and not empty (runs against a local service).
    static CloudEndpoints configured();

    // Why these endpoints must not be used, for the user; empty when they may. Plain HTTP would carry
    // the API key and the sign-in unencrypted, so it is allowed only to this computer.
    QString refusalReason() const;

    bool operator==(const CloudEndpoints& other) const = default;
};

} // namespace tessvale
