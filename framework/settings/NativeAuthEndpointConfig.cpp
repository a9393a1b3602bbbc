#include "settings/NativeAuthEndpointConfig.h"

namespace tessvale {

QUrl NativeAuthEndpointConfig::startURL() const
{
    return appendingPathComponents(apiBaseURL, QStringLiteral("client/v1/native-auth/start"));
}

QUrl NativeAuthEndpointConfig::tokenURL() const
{
    return appendingPathComponents(apiBaseURL, QStringLiteral("client/v1/native-auth/token"));
}

QUrl NativeAuthEndpointConfig::cancelURL(const QUuid& attemptID) const
{
    const QString id = attemptID.toString(QUuid::WithoutBraces).toLower();
    return appendingPathComponents(
        apiBaseURL, QStringLiteral("client/v1/native-auth/") + id + QStringLiteral("/cancel"));
}

QUrl appendingPathComponents(const QUrl& baseURL, const QString& path)
{
    QString joined = baseURL.path();
    if (!joined.endsWith(u'/'))
        joined += u'/';
    QString tail = path;
    while (tail.startsWith(u'/'))
        tail.remove(0, 1);
    joined += tail;
    QUrl result = baseURL;
    result.setPath(joined);
    return result;
}

} // namespace tessvale
