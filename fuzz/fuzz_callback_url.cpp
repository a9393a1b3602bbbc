// Feeds arbitrary URLs, as the desktop hands them to the application, to the sign-in callback's
// matching and query reading. A match keeps to the redirect URI's scheme, host, port and path.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QUrlQuery>

#include "coordinator/CallbackURL.h"

using namespace tessvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString redirects[] = {
        QStringLiteral("tessvale://native-auth/callback"),
        QStringLiteral("http://127.0.0.1:43123/native-auth/callback"),
    };
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QUrl& url : { QUrl(text, QUrl::StrictMode), QUrl(text, QUrl::TolerantMode) }) {
        for (const QString& redirect : redirects) {
            const QUrl expected(redirect);
            if (callbackURLMatches(url, redirect)
                && (url.scheme().compare(expected.scheme(), Qt::CaseInsensitive) != 0 || url.port() != expected.port()
                    || url.path(QUrl::FullyDecoded) != expected.path(QUrl::FullyDecoded)))
                std::abort();
        }
        // Also the redirect URI itself, as the attempt's own text: it may be anything the service sent.
        (void)callbackURLMatches(QUrl(redirects[0]), text);
        const QUrlQuery query = url.isValid() ? QUrlQuery(url) : QUrlQuery();
        for (const QString& name : { QStringLiteral("code"), QStringLiteral("state") }) {
            const std::optional<QString> value = firstQueryValue(query, name);
            if (value && !query.hasQueryItem(name))
                std::abort();
        }
    }
    return 0;
}
