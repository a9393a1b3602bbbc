#include "cloud/CloudEndpoints.h"

#include <QtGlobal>

#include "TessvaleConfig.h"

namespace tessvale {

namespace {

QString environmentOr(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

} // namespace

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
