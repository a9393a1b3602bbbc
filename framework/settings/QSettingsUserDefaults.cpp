#include "settings/QSettingsUserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "base/Logging.h"

namespace tessvale {

namespace {

// Whether the file at path can be replaced or created: QSettings writes a new file beside it and
// renames it, so its folder (or the first of its parents that exists) must be a writable folder.
bool canWrite(const QString& path)
{
    const QFileInfo file(path);
    if (file.exists() && (!file.isFile() || !file.isWritable()))
        return false;
    QString folder = file.absolutePath();
    while (!QFileInfo::exists(folder) && QFileInfo(folder).absolutePath() != folder)
        folder = QFileInfo(folder).absolutePath();
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

QSettingsUserDefaults::QSettingsUserDefaults()
{
    open([] {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
            QString::fromLatin1(organizationName), QString::fromLatin1(applicationName));
    });
}

QSettingsUserDefaults::QSettingsUserDefaults(const QString& fileName)
{
    open([fileName] { return std::make_unique<QSettings>(fileName, QSettings::NativeFormat); });
}

void QSettingsUserDefaults::open(const std::function<std::unique_ptr<QSettings>()>& make)
{
    m_settings = make();
    const QString name = m_settings->fileName();
    // QSettings parses the values of a section only when one is first read, so damage inside them
    // shows only then; read everything once before deciding.
    m_settings->allKeys();
    if (m_settings->status() != QSettings::NoError) {
        // QSettings never writes over a file it could not read: every change would be lost.
        const QString aside
            = name + QLatin1Char('.') + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
        m_settings.reset();
        const bool moved = QDir().rename(name, aside);
        m_settings = make();
        if (moved) {
            qCWarning(lcSettings) << "Unable to read the user defaults from" << name << "; moved the file to" << aside;
            setProblem(QStringLiteral("The settings file could not be read, so Tessvale started with default "
                                      "settings. The unreadable file was kept as %1.")
                           .arg(aside));
            return;
        }
        qCWarning(lcSettings) << "Unable to read the user defaults from" << name << "nor move the file aside";
        setProblem(QStringLiteral("The settings file %1 could not be read, so Tessvale started with default settings. "
                                  "Changes to settings cannot be saved.")
                       .arg(name));
        return;
    }
    if (!canWrite(name)) {
        qCWarning(lcSettings) << "Unable to write the user defaults to" << name;
        setProblem(QStringLiteral("Settings cannot be saved: %1 cannot be written. Changes made now are lost when "
                                  "Tessvale quits.")
                       .arg(name));
    }
}

QVariant QSettingsUserDefaults::object(const QString& key) const
{
    return m_settings->value(key);
}

void QSettingsUserDefaults::setObject(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    flush("write", key);
}

void QSettingsUserDefaults::removeObject(const QString& key)
{
    m_settings->remove(key);
    flush("remove", key);
}

QStringList QSettingsUserDefaults::keys() const
{
    return m_settings->allKeys();
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
    m_settings->sync();
    const QSettings::Status status = m_settings->status();
    if (status == QSettings::NoError)
        return;
    // The status sticks. A format error comes from reading the file again after another program
    // changed it; the write goes on regardless, so only a file that cannot be replaced lost it.
    if (status == QSettings::FormatError && canWrite(m_settings->fileName())) {
        qCWarning(lcSettings) << "The user defaults file" << m_settings->fileName()
                              << "was changed by another program and part of it cannot be read";
        return;
    }
    qCWarning(lcSettings) << "Unable to" << operation << key << "in" << m_settings->fileName();
    if (m_problem.isEmpty())
        setProblem(QStringLiteral("Settings could not be saved to %1. Changes made now are lost when Tessvale quits.")
                       .arg(m_settings->fileName()));
}

void QSettingsUserDefaults::setProblem(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    if (m_problemObserver)
        m_problemObserver();
}

} // namespace tessvale
