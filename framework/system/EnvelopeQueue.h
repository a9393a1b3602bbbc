#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tessvale {

// Envelopes waiting for the ingest endpoint, one file each ("<milliseconds>-<event id>.envelope"),
// so a report survives being offline, a crash or a quit and goes out at the next start. Safe to use
// from several threads: each call touches its own files.
class EnvelopeQueue
{
public:
    // Enough for a bad day offline without letting a loop of failures fill the disk.
    static constexpr int defaultCapacity = 64;

    explicit EnvelopeQueue(QString directory, int capacity = defaultCapacity);

    // $XDG_CACHE_HOME/tessvale/error-monitoring (~/.cache by default).
    static QString defaultDirectory();
    static QString fileSuffix() { return QStringLiteral(".envelope"); }

    QString directory() const { return m_directory; }
    // Writes the envelope atomically and returns its file; drops the oldest beyond the capacity.
    std::optional<QString> store(const QString& eventId, const QByteArray& envelope);
    // Complete envelopes, oldest first (files still being written are skipped).
    QStringList pending() const;
    std::optional<QByteArray> read(const QString& path) const;
    void remove(const QString& path);

    bool ensureDirectory() const;

private:
    QString m_directory;
    int m_capacity;
};

} // namespace tessvale
