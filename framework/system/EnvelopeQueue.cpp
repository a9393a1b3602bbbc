#include "system/EnvelopeQueue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "base/Logging.h"

namespace tessvale {

EnvelopeQueue::EnvelopeQueue(QString directory, int capacity)
    : m_directory(std::move(directory))
    , m_capacity(capacity)
{
}

QString EnvelopeQueue::defaultDirectory()
{
    QString cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cacheHome.isEmpty() || !QDir::isAbsolutePath(cacheHome))
        cacheHome = QDir::homePath() + QStringLiteral("/.cache");
    return cacheHome + QStringLiteral("/tessvale/error-monitoring");
}

bool EnvelopeQueue::ensureDirectory() const
{
    QDir dir(m_directory);
    if (dir.exists())
        return true;
    if (!QDir().mkpath(m_directory))
        return false;
    // Reports may quote what the user dictated: keep them private.
    QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

std::optional<QString> EnvelopeQueue::store(const QString& eventId, const QByteArray& envelope)
{
    if (!ensureDirectory()) {
        qCWarning(lcErrorMonitoring).noquote() << "Cannot create the report queue" << m_directory;
        return std::nullopt;
    }
    const QString path = QStringLiteral("%1/%2-%3%4")
                             .arg(m_directory)
                             .arg(QDateTime::currentMSecsSinceEpoch(), 13, 10, QLatin1Char('0'))
                             .arg(eventId, fileSuffix());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(envelope) != envelope.size() || !file.commit()) {
        qCWarning(lcErrorMonitoring).noquote() << "Cannot queue a report:" << file.errorString();
        return std::nullopt;
    }
    const QStringList queued = pending();
    for (qsizetype i = 0; i + m_capacity < queued.size(); ++i) {
        qCInfo(lcErrorMonitoring).noquote() << "Report queue full; dropping" << QFileInfo(queued[i]).fileName();
        QFile::remove(queued[i]);
    }
    return path;
}

QStringList EnvelopeQueue::pending() const
{
    const QDir dir(m_directory);
    QStringList paths;
    const QStringList names = dir.entryList({ QStringLiteral("*") + fileSuffix() }, QDir::Files, QDir::Name);
    for (const QString& name : names)
        paths.append(dir.filePath(name));
    return paths;
}

std::optional<QByteArray> EnvelopeQueue::read(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

void EnvelopeQueue::remove(const QString& path)
{
    QFile::remove(path);
}

} // namespace tessvale
