#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tessvale {

// A reporting key: "{http|https}://PUBLIC_KEY@HOST[:PORT][/PATH]/PROJECT_ID".
struct SentryDsn
{
    QString text;
    QString publicKey;
    QString projectId;
    QUrl envelopeEndpoint; // .../api/PROJECT_ID/envelope/

    // Absent with error set when the text is not a usable key.
    static std::optional<SentryDsn> parse(const QString& text, QString* error = nullptr);

    // The "X-Sentry-Auth" value naming the protocol version, this client and the public key.
    QByteArray authHeader() const;
};

} // namespace tessvale
