#include "coordinator/DictationCoordinator.h"

#include <QPointer>

namespace tessvale {

void DictationCoordinator::resetAudioStatistics(std::optional<QDateTime> startedAt)
{
    m_recordingStartedAt = std::move(startedAt);
    m_capturedAudioChunkCount = 0;
    m_sentAudioChunkCount = 0;
    m_sentAudioByteCount = 0;
    m_audioLevelSampleCount = 0;
    m_peakAudioLevel = 0;
}

QCoro::Task<> DictationCoordinator::disconnectSessionTransport()
{
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUuid> closingSessionID = m_sessionID;
    m_disconnectingSessionID = closingSessionID;
    // The microphone closes first; what it still held is not sent.
    m_services.recorder.stop();
    m_isStartingRecording = false;
    setAudioLevel(0);
    resetAudioStatistics(std::nullopt);
    setTriggerMode(std::nullopt);
    for (TaskHandle* task :
        { &m_sessionStartTimeoutTask, &m_sessionErrorCleanupTask, &m_webSocketPingTask, &m_sessionCompletionTask }) {
        task->cancel();
        *task = TaskHandle();
    }
    m_bufferedAudioChunks.clear();
    m_queuedAudioChunks.clear();
    m_isSessionReadyForAudio = false;
    m_isDrainingQueuedAudio = false;
    m_shouldStopAfterQueuedAudioDrains = false;
    if (m_webSocket) {
        // A copy: the field may be replaced while the close runs.
        const WebSocketTransport transport = *m_webSocket;
        QCoro::Task<> closing = transport.disconnect();
        co_await std::move(closing);
        if (!self)
            co_return;
        // A newer session that began during the close keeps its own state.
        if (m_sessionID != closingSessionID) {
            logActivity(QStringLiteral("Disconnected session transport."));
            co_return;
        }
    }
    m_webSocket.reset();
    m_sessionID.reset();
    m_disconnectingSessionID.reset();
    m_openingSessionID.reset();
    if (closingSessionID)
        m_disconnectedSessionID = closingSessionID;
    m_audioSequence = 0;
    m_insertionTarget.reset();
    logActivity(QStringLiteral("Disconnected session transport."));
}

QCoro::Task<> DictationCoordinator::finishSessionIfIdle(std::optional<QUuid> sessionID)
{
    if (m_isInserting || (sessionID && m_sessionID != sessionID))
        co_return;
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<> disconnecting = disconnectSessionTransport();
    co_await std::move(disconnecting);
    // A newer session that began during the close owns the phase.
    if (!self || m_sessionID || m_isStartingRecording || m_phase == DictationPhase::error)
        co_return;
    setPhase(m_isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
}

} // namespace tessvale
