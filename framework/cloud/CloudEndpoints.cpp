#include "cloud/CloudEndpoints.h"

#include <QStringList>
#include <QtGlobal>

#include "TessvaleConfig.h"

namespace tessvale {

namespace {

QString environmentOr(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

// localhost, 127.0.0.0/8 or ::1, as QUrl spells a host (IPv4 in full, IPv6 without brackets).
bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host == QLatin1String("::1"))
        return true;
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts[0] != QLatin1String("127"))
        return false;
    for (const QString& part : parts) {
        bool number = false;
        const int value = part.toInt(&number);
        if (!number || value < 0 || value > 255)
            return false;
    }
    return true;
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
