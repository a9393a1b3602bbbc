#pragma once

#include <optional>

#include <QString>
#include <QVariantMap>

namespace tessvale {

struct ErrorMonitoringConfiguration
{
    QString dsn;
    QString environment;
    QString releaseName;
    std::optional<QString> dist;

    friend bool operator==(const ErrorMonitoringConfiguration&, const ErrorMonitoringConfiguration&) = default;

    // Absent unless the dictionary holds a usable "SENTRY_DSN".
    static std::optional<ErrorMonitoringConfiguration> make(const std::optional<QVariantMap>& infoDictionary,
        const std::optional<QString>& bundleIdentifier, bool isDebugBuild);
};

} // namespace tessvale
