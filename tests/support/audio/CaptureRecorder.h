#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tessvale::testing {

// Collects what a recording hands on, from whichever thread the handlers run on.
class CaptureRecorder
{
public:
    struct Event
    {
        enum Kind {
            Chunk,
            Level,
            Ended,
        } kind;
        QByteArray chunk;
        float level = 0.0F;
        // For an end: "device name: reason".
        QString end;
    };

    std::function<void(const QByteArray&)> chunkHandler();
    std::function<void(float)> levelHandler();
    std::function<void(const QString& deviceName, const QString& reason)> endedHandler();

    QList<QByteArray> chunks() const;
    QList<float> levels() const;
    QStringList ends() const;
    QList<Event> events() const;
    bool waitForChunks(qsizetype count, std::chrono::milliseconds timeout);
    bool waitForLevels(qsizetype count, std::chrono::milliseconds timeout);
    bool waitForEnd(std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<Event> m_events;
};

} // namespace tessvale::testing
