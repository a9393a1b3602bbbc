#include "cloud/CloudEndpoints.h"

#include <QHostAddress>
#include <QtGlobal>

#include "TessvaleConfig.h"

namespace tessvale {

namespace {

QString environmentOr(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString originRefusal(const QUrl& origin, const char* variable, const char* role)
{
    const QString scheme = origin.scheme().toLower();
    if (origin.isValid() && !origin.host().isEmpty()
        && (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && isLoopbackHost(origin.host()))))
        return {};
    return QStringLiteral("The %1 %2 (%3) is refused: it must start with https:// (plain http:// is allowed only for "
                          "this computer: localhost, 127.0.0.1 or ::1).")
        .arg(QLatin1String(role), origin.toString(), QLatin1String(variable));
}

} // namespace

QString CloudEndpoints::refusalReason() const
{
    const QString rest = originRefusal(restOrigin, "TESSVALE_REST_ORIGIN", "REST origin");
    return rest.isEmpty() ? originRefusal(webOrigin, "TESSVALE_WEB_ORIGIN", "web origin") : rest;
}

CloudEndpoints CloudEndpoints::defaults()
{
    return CloudEndpoints {
        QUrl(QStringLiteral(TESSVALE_DEFAULT_WEB_ORIGIN)),
        QUrl(QStringLiteral(TESSVALE_DEFAULT_REST_ORIGIN)),
        QStringLiteral(TESSVALE_DEFAULT_SERVICE_DOMAIN).toLower(),
    };
}

CloudEndpoints CloudEndpoints::configured()
{
    const CloudEndpoints base = defaults();
    return CloudEndpoints {
        QUrl(environmentOr("TESSVALE_WEB_ORIGIN", base.webOrigin.toString())),
        QUrl(environmentOr("TESSVALE_REST_ORIGIN", base.restOrigin.toString())),
        environmentOr("TESSVALE_SERVICE_DOMAIN", base.serviceDomain).trimmed().toLower(),
    };
}

} // namespace tessvale
