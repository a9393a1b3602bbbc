#pragma once

#include <QString>
#include <QUrl>
#include <QUuid>

namespace tessvale {

// Where the browser sign-in talks to the service: the REST origin and the authorization host.
struct NativeAuthEndpointConfig
{
    QUrl apiBaseURL;
    QString authorizationHost;

    QUrl startURL() const;
    QUrl tokenURL() const;
    // The attempt's identifier appears in lower case.
    QUrl cancelURL(const QUuid& attemptID) const;

    bool operator==(const NativeAuthEndpointConfig&) const = default;
};

// Appends path below baseURL's path as path components (one slash between them), keeping the
// scheme, host and port.
QUrl appendingPathComponents(const QUrl& baseURL, const QString& path);

} // namespace tessvale
