#include "settings/QSettingsUserDefaults.h"

#include "base/Logging.h"

namespace tessvale {

QSettingsUserDefaults::QSettingsUserDefaults()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(organizationName),
        QString::fromLatin1(applicationName))
{
    if (m_settings.status() != QSettings::NoError)
        qCWarning(lcSettings) << "Unable to read the user defaults from" << m_settings.fileName();
}

QSettingsUserDefaults::QSettingsUserDefaults(const QString& fileName)
    : m_settings(fileName, QSettings::NativeFormat)
{
    if (m_settings.status() != QSettings::NoError)
        qCWarning(lcSettings) << "Unable to read the user defaults from" << m_settings.fileName();
}

QVariant QSettingsUserDefaults::object(const QString& key) const
{
    return m_settings.value(key);
}

void QSettingsUserDefaults::setObject(const QString& key, const QVariant& value)
{
    m_settings.setValue(key, value);
    flush("write", key);
}

void QSettingsUserDefaults::removeObject(const QString& key)
{
    m_settings.remove(key);
    flush("remove", key);
}

QStringList QSettingsUserDefaults::keys() const
{
    return m_settings.allKeys();
}

std::optional<bool> QSettingsUserDefaults::boolean(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() != QMetaType::QString)
        return UserDefaults::boolean(key);
    const QString text = value.toString();
    if (text == QLatin1StringView("true"))
        return true;
    if (text == QLatin1StringView("false"))
        return false;
    bool isNumber = false;
    const double number = text.toDouble(&isNumber);
    if (isNumber && (number == 0.0 || number == 1.0))
        return number == 1.0;
    return std::nullopt;
}

void QSettingsUserDefaults::flush(const char* operation, const QString& key)
{
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError)
        qCWarning(lcSettings) << "Unable to" << operation << key << "in" << m_settings.fileName();
}

} // namespace tessvale
