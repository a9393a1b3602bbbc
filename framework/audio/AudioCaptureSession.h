#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QByteArray>
#include <QList>
#include <QString>

#include "audio/AudioChunkAccumulator.h"

namespace tessvale {

// The serial worker of one recording: takes converted blocks from the capture thread and, one at a
// time and in capture order, reports the level, cuts chunks and calls the handlers. Every handler,
// the closing zero level included, runs on the worker, so no two of them ever run at once.
class AudioCaptureSession : public std::enable_shared_from_this<AudioCaptureSession>
{
public:
    using ChunkHandler = std::function<void(const QByteArray&)>;
    using LevelHandler = std::function<void(float)>;
    using EndedHandler = std::function<void(const QString& reason)>;

    static std::shared_ptr<AudioCaptureSession> create(
        qint64 bytesPerChunk, ChunkHandler chunkHandler, LevelHandler levelHandler, EndedHandler endedHandler = {});
    ~AudioCaptureSession();
    AudioCaptureSession(const AudioCaptureSession&) = delete;
    AudioCaptureSession& operator=(const AudioCaptureSession&) = delete;

    // From the capture thread. Ignored once the session is finished.
    void submit(QByteArray block);
    // From the capture thread, when the stream ended on its own: the ended handler runs once, after
    // the blocks submitted before. Ignored once the session is finished or already ended.
    void end(const QString& reason);
    bool hasEnded() const { return m_ended; }

    // Waits up to drainTimeout for the submitted blocks to be handled, then returns what was not
    // handed on: the held-back remainder plus, after a stall, every block still waiting. The
    // handlers are not called for anything returned here, nor for anything afterwards, except the level
    // handler once with 0: before this returns, or after a stall as soon as the busy handler returns.
    QList<QByteArray> finish(std::chrono::milliseconds drainTimeout, bool* stalled = nullptr);

private:
    AudioCaptureSession(
        qint64 bytesPerChunk, ChunkHandler chunkHandler, LevelHandler levelHandler, EndedHandler endedHandler);
    void run();
    bool handleNext(std::unique_lock<std::mutex>& lock);
    bool reportEnd(std::unique_lock<std::mutex>& lock);

    const ChunkHandler m_chunkHandler;
    const LevelHandler m_levelHandler;
    const EndedHandler m_endedHandler;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<QByteArray> m_waiting;
    AudioChunkAccumulator m_accumulator;
    bool m_busy = false;
    bool m_closed = false;
    std::atomic<bool> m_ended { false };
    std::optional<QString> m_endReason;
    std::thread m_worker;
};

} // namespace tessvale
