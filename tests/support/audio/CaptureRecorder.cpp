#include "CaptureRecorder.h"

#include <algorithm>

namespace tessvale::testing {

std::function<void(const QByteArray&)> CaptureRecorder::chunkHandler()
{
    return [this](const QByteArray& chunk) {
        {
            std::lock_guard lock(m_mutex);
            m_events.append(Event { Event::Chunk, chunk, 0.0F });
        }
        m_changed.notify_all();
    };
}

std::function<void(float)> CaptureRecorder::levelHandler()
{
    return [this](float level) {
        {
            std::lock_guard lock(m_mutex);
            m_events.append(Event { Event::Level, {}, level });
        }
        m_changed.notify_all();
    };
}

std::function<void(const QString&, const QString&)> CaptureRecorder::endedHandler()
{
    return [this](const QString& deviceName, const QString& reason) {
        {
            std::lock_guard lock(m_mutex);
            m_events.append(Event { Event::Ended, {}, 0.0F, deviceName + ": " + reason });
        }
        m_changed.notify_all();
    };
}

QList<QByteArray> CaptureRecorder::chunks() const
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> result;
    for (const Event& event : m_events) {
        if (event.kind == Event::Chunk) {
            result.append(event.chunk);
        }
    }
    return result;
}

QList<float> CaptureRecorder::levels() const
{
    std::lock_guard lock(m_mutex);
    QList<float> result;
    for (const Event& event : m_events) {
        if (event.kind == Event::Level) {
            result.append(event.level);
        }
    }
    return result;
}

QStringList CaptureRecorder::ends() const
{
    std::lock_guard lock(m_mutex);
    QStringList result;
    for (const Event& event : m_events) {
        if (event.kind == Event::Ended) {
            result.append(event.end);
        }
    }
    return result;
}

QList<CaptureRecorder::Event> CaptureRecorder::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

bool CaptureRecorder::waitForChunks(qsizetype count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::count_if(m_events.begin(), m_events.end(), [](const Event& e) { return e.kind == Event::Chunk; })
            >= count;
    });
}

bool CaptureRecorder::waitForLevels(qsizetype count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::count_if(m_events.begin(), m_events.end(), [](const Event& e) { return e.kind == Event::Level; })
            >= count;
    });
}

bool CaptureRecorder::waitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::any_of(m_events.begin(), m_events.end(), [](const Event& e) { return e.kind == Event::Ended; });
    });
}

} // namespace tessvale::testing
