#include "coordinator/CallbackURL.h"

namespace tessvale {

namespace {

// The text of a path for comparison; an empty path is the root.
QString comparablePath(const QUrl& url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

} // namespace

bool callbackURLMatches(const QUrl& url, const QString& redirectURI)
{
    const QUrl expected(redirectURI, QUrl::StrictMode);
    if (redirectURI.isEmpty() || !expected.isValid())
        return false;
    if (url.scheme().isEmpty() || expected.scheme().isEmpty()
        || url.scheme().compare(expected.scheme(), Qt::CaseInsensitive) != 0)
        return false;
    if (url.host().compare(expected.host(), Qt::CaseInsensitive) != 0)
        return false;
    if (url.port() != expected.port())
        return false;
    return comparablePath(url) == comparablePath(expected);
}

std::optional<QString> firstQueryValue(const QUrlQuery& query, const QString& name)
{
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == name)
            return value.isNull() ? std::nullopt : std::optional<QString>(value);
    }
    return std::nullopt;
}

} // namespace tessvale
