#include "AudioCaptureSession.h"

namespace tessvale {

std::shared_ptr<AudioCaptureSession> AudioCaptureSession::create(
    qint64 bytesPerChunk, ChunkHandler chunkHandler, LevelHandler levelHandler, EndedHandler endedHandler)
{
    std::shared_ptr<AudioCaptureSession> session(new AudioCaptureSession(
        bytesPerChunk, std::move(chunkHandler), std::move(levelHandler), std::move(endedHandler)));
    // The worker keeps the session alive while it runs, so a handler that never returns cannot
    // leave it pointing at freed memory.
    session->m_worker = std::thread([self = session] { self->run(); });
    return session;
}

AudioCaptureSession::AudioCaptureSession(
    qint64 bytesPerChunk, ChunkHandler chunkHandler, LevelHandler levelHandler, EndedHandler endedHandler)
    : m_chunkHandler(std::move(chunkHandler))
    , m_levelHandler(std::move(levelHandler))
    , m_endedHandler(std::move(endedHandler))
{
    m_accumulator.bytesPerChunk = bytesPerChunk;
}

AudioCaptureSession::~AudioCaptureSession()
{
    if (m_worker.joinable()) {
        m_worker.detach();
    }
}

void AudioCaptureSession::submit(QByteArray block)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return;
        }
        m_waiting.push_back(std::move(block));
    }
    m_wake.notify_one();
}

void AudioCaptureSession::end(const QString& reason)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_ended) {
            return;
        }
        m_ended = true;
        m_endReason = reason;
    }
    m_wake.notify_one();
}

void AudioCaptureSession::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_closed || !m_waiting.empty() || m_endReason; });
        if (m_closed) {
            break;
        }
        const bool goOn = m_waiting.empty() ? reportEnd(lock) : handleNext(lock);
        if (!goOn) {
            break;
        }
    }
    m_busy = false;
    lock.unlock();
    m_idle.notify_all();
    // After the last handler call, whether finish() waited for it or gave up: never beside another one.
    if (m_levelHandler) {
        m_levelHandler(0.0F);
    }
}

bool AudioCaptureSession::reportEnd(std::unique_lock<std::mutex>& lock)
{
    const QString reason = *m_endReason;
    m_endReason.reset();
    m_busy = true;
    lock.unlock();
    if (m_endedHandler) {
        m_endedHandler(reason);
    }
    lock.lock();
    if (m_closed) {
        return false;
    }
    m_busy = false;
    m_idle.notify_all();
    return true;
}

bool AudioCaptureSession::handleNext(std::unique_lock<std::mutex>& lock)
{
    // The block stays queued until it is accumulated, so a finish() that gives up waiting while a
    // handler is busy still returns it.
    const QByteArray block = m_waiting.front();
    m_busy = true;
    lock.unlock();
    if (m_levelHandler) {
        m_levelHandler(audioLevel(block));
    }
    lock.lock();
    if (m_closed) {
        return false;
    }
    m_waiting.pop_front();
    m_accumulator.append(block);
    while (auto chunk = m_accumulator.takeChunk()) {
        lock.unlock();
        if (m_chunkHandler) {
            m_chunkHandler(*chunk);
        }
        lock.lock();
        if (m_closed) {
            return false;
        }
    }
    m_busy = false;
    m_idle.notify_all();
    return true;
}

QList<QByteArray> AudioCaptureSession::finish(std::chrono::milliseconds drainTimeout, bool* stalled)
{
    const bool onWorker = std::this_thread::get_id() == m_worker.get_id();
    std::unique_lock lock(m_mutex);
    // A handler that calls stop() would wait for itself: there is nothing to wait for then.
    const bool drained
        = !onWorker && m_idle.wait_for(lock, drainTimeout, [this] { return m_waiting.empty() && !m_busy; });
    m_closed = true;
    for (const QByteArray& block : m_waiting) {
        m_accumulator.append(block);
    }
    m_waiting.clear();
    QList<QByteArray> leftovers = m_accumulator.flush(true);
    lock.unlock();
    m_wake.notify_all();
    if (stalled != nullptr) {
        *stalled = !drained;
    }
    if (m_worker.joinable()) {
        if (drained) {
            m_worker.join();
        } else {
            m_worker.detach();
        }
    }
    return leftovers;
}

} // namespace tessvale
