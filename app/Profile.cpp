#include "Profile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include "auth/KeychainStore.h"
#include "base/Logging.h"
#include "settings/QSettingsUserDefaults.h"

namespace tessvale {

QString profileName()
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    QString name = qEnvironmentVariable(profileVariable);
    if (name.isEmpty())
        return {};
    if (!valid.match(name).hasMatch()) {
        qCWarning(lcApp) << profileVariable << "is not a profile name; the default profile is used";
        return {};
    }
    return name;
}

QString keychainServiceName(const std::optional<QString>& bundleIdentifier)
{
    const QString service = KeychainStore::resolvedService(std::nullopt, bundleIdentifier);
    const QString profile = profileName();
    return profile.isEmpty() ? service : service + QLatin1Char('.') + profile;
}

QStringList launchEnvironment()
{
    const QString profile = profileName();
    if (profile.isEmpty())
        return {};
    return { QString::fromLatin1(profileVariable) + QLatin1Char('=') + profile };
}

QString settingsFile()
{
    QString usual = QSettings(QSettings::NativeFormat, QSettings::UserScope,
        QString::fromLatin1(QSettingsUserDefaults::organizationName),
        QString::fromLatin1(QSettingsUserDefaults::applicationName))
                        .fileName();
    const QString profile = profileName();
    if (profile.isEmpty())
        return usual;
    const QFileInfo file(usual);
    return file.path() + QLatin1Char('/') + file.completeBaseName() + QLatin1Char('-') + profile
        + QStringLiteral(".conf");
}

} // namespace tessvale
