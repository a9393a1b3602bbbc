#pragma once

#include <memory>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include "async/OneShot.h"
#include "async/TaskHandle.h"
#include "coordinator/CoordinatorSeams.h"
#include "focus/FocusedInsertionTarget.h"

namespace tessvale {

class RecorderInbox;

// The sent and captured audio of one session, for the empty-dictation message and the logs.
struct DictationAudioStatistics
{
    std::optional<QDateTime> recordingStartedAt;
    qint64 capturedChunkCount = 0;
    qint64 sentChunkCount = 0;
    qint64 sentByteCount = 0;
    qint64 levelSampleCount = 0;
    double peakLevel = 0;
};

// One dictation from the moment its start opens it to its end: its stream, its audio, its stop and its
// timers. The coordinator owns the current one and destroys it when the session ends; a continuation
// that awaited compares its session's id with the current one's and stops when they differ. The
// session keeps its own books; the coordinator decides the phase and does the sending.
class DictationSession final
{
public:
    enum class Timer {
        startTimeout,
        errorCleanup,
        ping,
        // Ends a stopped session the service never completes.
        completion,
    };

    DictationSession(
        QUuid sessionID, std::optional<WebSocketTransport> sessionTransport, FocusedInsertionTargetRef target);
    // Nothing of the session runs or arrives after it: timers cancelled, recorder inbox detached.
    ~DictationSession();
    DictationSession(const DictationSession&) = delete;
    DictationSession& operator=(const DictationSession&) = delete;

    const QUuid& id() const { return m_id; }
    const std::optional<WebSocketTransport>& transport() const { return m_transport; }
    const FocusedInsertionTargetRef& insertionTarget() const { return m_insertionTarget; }
    const DictationAudioStatistics& statistics() const { return m_statistics; }

    // The first step of the end, before the stream closes: no timer, no audio waiting, no drain.
    void halt();
    // The stream is gone: nothing more is sent and no start confirmation is awaited.
    void endStreaming();
    // Drops the audio not yet sent and the stop that waited for it.
    void dropUnsentAudio();

    // Replaces the timer's task, cancelling the one it had.
    void setTimer(Timer timer, TaskHandle task);
    void cancelTimer(Timer timer);

    // Its start message is still on its way: the start handles its opening's failure.
    bool isOpening() const { return m_isOpening; }
    void setOpening(bool opening) { m_isOpening = opening; }
    // Its stream's connection has begun (not before the HUD is on screen).
    bool hasStream() const { return m_hasStream; }
    void markStreamBegun() { m_hasStream = true; }
    // Its stop has begun (set before the grace wait).
    bool isStopPending() const { return m_isStopPending; }
    void markStopPending() { m_isStopPending = true; }
    // The service reported it finished.
    bool isCompleted() const { return m_isCompleted; }
    void markCompleted() { m_isCompleted = true; }
    const QString& lastCommittedText() const { return m_lastCommittedText; }
    void setLastCommittedText(const QString& text) { m_lastCommittedText = text; }
    // After a reset to signed out: the session commits and recovers afresh.
    void forgetOutcome();

    // The current recorder start's deliveries.
    const std::shared_ptr<RecorderInbox>& recorderInbox() const { return m_recorderInbox; }
    void attachRecorderInbox(std::shared_ptr<RecorderInbox> inbox);
    void retireRecorderInbox();

    // Audio: captured before the service is ready, then queued for sending in order.
    void markRecordingStarted() { m_statistics.recordingStartedAt = QDateTime::currentDateTime(); }
    void addCapturedChunk(const QByteArray& chunk);
    // Chunks the recorder handed over at its stop, counted before they are queued.
    void countCapturedChunks(qsizetype count) { m_statistics.capturedChunkCount += count; }
    // What the recorder still held at the stop; the stop follows once it is sent.
    void addLeftoverAndStop(const QList<QByteArray>& leftover);
    void addLevel(float level);
    bool isReadyForAudio() const { return m_isReadyForAudio; }
    // The service confirmed the start: the start timer ends and the buffer is queued. False when it
    // was ready already.
    bool markReadyForAudio();
    bool isStopAfterDrainRequested() const { return m_shouldStopAfterQueuedAudioDrains; }

    // The drain: one at a time, chunk by chunk, each counted once sent.
    bool beginDrain();
    std::optional<QByteArray> takeQueuedChunk();
    void endDrain() { m_isDrainingQueuedAudio = false; }
    // A failure ends the drain and drops what waited for it.
    void abandonDrain();
    qint64 nextAudioSequence() const { return m_audioSequence; }
    void recordSentChunk(qint64 sequence, qsizetype bytes);
    // Whether the stop may go now (everything sent, nothing draining); taking it clears the request.
    bool takeStopIfDrained();

    // Recovery: one fetch per session; a failure arriving while it is out awaits its answer.
    bool hasAttemptedRecovery() const { return m_recovery != nullptr; }
    // Empty when no fetch is out: the attempt is over.
    std::optional<OneShot<bool>> awaitRecoveryAnswer();
    class RecoveryFetch;
    std::shared_ptr<RecoveryFetch> beginRecovery();
    // For the coordinator's end, which fails whoever awaits the fetch's answer.
    std::shared_ptr<RecoveryFetch> releaseRecovery() { return std::exchange(m_recovery, nullptr); }

private:
    TaskHandle& timerTask(Timer timer);
    void cancelTimers();

    const QUuid m_id;
    std::optional<WebSocketTransport> m_transport;
    FocusedInsertionTargetRef m_insertionTarget;
    std::shared_ptr<RecorderInbox> m_recorderInbox;

    qint64 m_audioSequence = 0;
    QList<QByteArray> m_bufferedAudioChunks;
    QList<QByteArray> m_queuedAudioChunks;
    DictationAudioStatistics m_statistics;

    bool m_isReadyForAudio = false;
    bool m_isDrainingQueuedAudio = false;
    bool m_shouldStopAfterQueuedAudioDrains = false;
    bool m_isOpening = false;
    bool m_hasStream = false;
    bool m_isStopPending = false;
    bool m_isCompleted = false;
    QString m_lastCommittedText;
    // Shared with the fetch, which may outlast the session.
    std::shared_ptr<RecoveryFetch> m_recovery;

    TaskHandle m_startTimeoutTask;
    TaskHandle m_errorCleanupTask;
    TaskHandle m_pingTask;
    TaskHandle m_completionTask;
};

// A session's recovery fetch: answers every failure that waited for it; a fetch that ends without
// an answer fails them.
class DictationSession::RecoveryFetch final
{
public:
    RecoveryFetch() = default;
    ~RecoveryFetch();
    RecoveryFetch(const RecoveryFetch&) = delete;
    RecoveryFetch& operator=(const RecoveryFetch&) = delete;

    bool isAnswered() const { return m_isAnswered; }
    OneShot<bool> addWaiter();
    void answer(bool recovered);
    void fail();

private:
    bool m_isAnswered = false;
    QList<OneShot<bool>> m_waiters;
};

} // namespace tessvale
