#include "system/ErrorMonitoringConfiguration.h"

namespace tessvale {

namespace {

std::optional<QString> trimmedString(const QVariantMap& dictionary, const QString& key)
{
    const QVariant value = dictionary.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString trimmed = value.toString().trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

} // namespace

std::optional<ErrorMonitoringConfiguration> ErrorMonitoringConfiguration::make(const std::optional<QVariantMap>& infoDictionary,
                                                                               const std::optional<QString>& bundleIdentifier,
                                                                               bool isDebugBuild)
{
    const QVariantMap info = infoDictionary.value_or(QVariantMap());
    const std::optional<QString> dsn = trimmedString(info, QStringLiteral("SENTRY_DSN"));
    if (!dsn)
        return std::nullopt;

    ErrorMonitoringConfiguration configuration;
    configuration.dsn = *dsn;
    configuration.environment = trimmedString(info, QStringLiteral("SENTRY_ENVIRONMENT"))
                                    .value_or(isDebugBuild ? QStringLiteral("debug") : QStringLiteral("release"));

    const std::optional<QString> version = trimmedString(info, QStringLiteral("CFBundleShortVersionString"));
    const std::optional<QString> build = trimmedString(info, QStringLiteral("CFBundleVersion"));
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
