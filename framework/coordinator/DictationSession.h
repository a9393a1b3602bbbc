#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

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
// that awaited compares its session's id with the current one's and stops when they differ.
class DictationSession final
{
public:
    DictationSession(
        QUuid sessionID, std::optional<WebSocketTransport> sessionTransport, FocusedInsertionTargetRef target);
    // Nothing of the session runs or arrives after it: timers cancelled, recorder inbox detached.
    ~DictationSession();
    DictationSession(const DictationSession&) = delete;
    DictationSession& operator=(const DictationSession&) = delete;

    // The first step of the end, before the stream closes: no timer, no audio waiting, no drain.
    void halt();
    void cancelTimers();
    // Drops the audio not yet sent and the stop that waited for it.
    void dropUnsentAudio();
    void retireRecorderInbox();

    const QUuid id;
    std::optional<WebSocketTransport> transport;
    FocusedInsertionTargetRef insertionTarget;
    // The current recorder start's deliveries.
    std::shared_ptr<RecorderInbox> recorderInbox;

    // Audio: captured before the service is ready, then queued for sending in order.
    qint64 audioSequence = 0;
    QList<QByteArray> bufferedAudioChunks;
    QList<QByteArray> queuedAudioChunks;
    DictationAudioStatistics statistics;

    bool isReadyForAudio = false;
    bool isDrainingQueuedAudio = false;
    bool shouldStopAfterQueuedAudioDrains = false;
    // Its start message is still on its way: the start handles its opening's failure.
    bool isOpening = false;
    // Its stream's connection has begun (not before the HUD is on screen).
    bool hasStream = false;
    // Its stop has begun (set before the grace wait).
    bool isStopPending = false;
    // The service reported it finished.
    bool isCompleted = false;
    QString lastCommittedText;

    TaskHandle startTimeoutTask;
    TaskHandle errorCleanupTask;
    TaskHandle pingTask;
    // Ends a stopped session the service never completes.
    TaskHandle completionTask;
};

} // namespace tessvale
