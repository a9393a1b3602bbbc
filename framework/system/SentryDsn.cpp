#include "system/SentryDsn.h"

namespace tessvale {

namespace {

std::optional<SentryDsn> failure(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

} // namespace

std::optional<SentryDsn> SentryDsn::parse(const QString& text, QString* error)
{
    const QString trimmed = text.trimmed();
    const QUrl url(trimmed, QUrl::StrictMode);
    if (trimmed.isEmpty() || !url.isValid())
        return failure(error, QStringLiteral("The reporting key is not a valid URL."));
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return failure(error, QStringLiteral("The reporting key must be an http or https URL."));
    if (url.host().isEmpty())
        return failure(error, QStringLiteral("The reporting key names no host."));
    if (url.userName().isEmpty())
        return failure(error, QStringLiteral("The reporting key has no public key."));

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString projectId = slash < 0 ? QString() : path.mid(slash + 1);
    const QString prefix = slash < 0 ? QString() : path.left(slash);
    if (projectId.isEmpty())
        return failure(error, QStringLiteral("The reporting key names no project."));

    SentryDsn dsn;
    dsn.text = trimmed;
    dsn.publicKey = url.userName();
    dsn.projectId = projectId;
    QUrl endpoint;
    endpoint.setScheme(scheme);
    endpoint.setHost(url.host());
    endpoint.setPort(url.port());
    endpoint.setPath(prefix + QStringLiteral("/api/") + projectId + QStringLiteral("/envelope/"));
    dsn.envelopeEndpoint = endpoint;
    return dsn;
}

QByteArray SentryDsn::authHeader() const
{
    return QByteArrayLiteral("Sentry sentry_version=7, sentry_client=tessvale-native/1.0, sentry_key=")
        + publicKey.toUtf8();
}

} // namespace tessvale
