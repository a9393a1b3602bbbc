#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <QByteArray>
#include <QList>
#include <QString>

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
        } kind;
        QByteArray chunk;
        float level = 0.0F;
    };

    std::function<void(const QByteArray&)> chunkHandler();
    std::function<void(float)> levelHandler();

    QList<QByteArray> chunks() const;
    QList<float> levels() const;
    QList<Event> events() const;
    bool waitForChunks(qsizetype count, std::chrono::milliseconds timeout);
    bool waitForLevels(qsizetype count, std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<Event> m_events;
};

} // namespace tessvale::testing
