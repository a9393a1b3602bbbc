#include "system/ErrorMonitoringConfiguration.h"

#include "system/BundleInfo.h"

namespace tessvale {

std::optional<ErrorMonitoringConfiguration> ErrorMonitoringConfiguration::make(
    const std::optional<QVariantMap>& infoDictionary, const std::optional<QString>& bundleIdentifier, bool isDebugBuild)
{
    const QVariantMap info = infoDictionary.value_or(QVariantMap());
    const std::optional<QString> dsn = BundleInfo::string(info, QStringLiteral("SENTRY_DSN"));
    if (!dsn)
        return std::nullopt;

    ErrorMonitoringConfiguration configuration;
    configuration.dsn = *dsn;
    configuration.environment = BundleInfo::string(info, QStringLiteral("SENTRY_ENVIRONMENT"))
                                    .value_or(isDebugBuild ? QStringLiteral("debug") : QStringLiteral("release"));

    const std::optional<QString> version = BundleInfo::string(info, QStringLiteral("CFBundleShortVersionString"));
    const std::optional<QString> build = BundleInfo::string(info, QStringLiteral("CFBundleVersion"));
    const QString identifier = bundleIdentifier.value_or(QString()).trimmed();
    QString release = identifier.isEmpty() ? QStringLiteral("tessvale-mac") : identifier;
    if (version && build)
        release += QLatin1Char('@') + *version + QLatin1Char('+') + *build;
    else if (version)
        release += QLatin1Char('@') + *version;
    else if (build)
        release += QLatin1Char('@') + *build;
    configuration.releaseName = release;
    configuration.dist = build;
    return configuration;
}

} // namespace tessvale
