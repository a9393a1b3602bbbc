#pragma once

#include <optional>

#include <QString>
#include <QUrl>
#include <QUrlQuery>

namespace tessvale {

// Whether url is the redirect URI's callback: scheme and host ignoring case, port, and path (an
// empty path counts as "/"); the query and fragment, which carry the code and state, are not
// compared. False when redirectURI does not parse.
bool callbackURLMatches(const QUrl& url, const QString& redirectURI);

// The value of the first query item called name; absent when there is none or it has no value
// ("code" rather than "code="). An empty value is present.
std::optional<QString> firstQueryValue(const QUrlQuery& query, const QString& name);

} // namespace tessvale
