#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/Spawn.h"
#include "audio/RecorderInbox.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

void DictationCoordinator::startRecorder(DictationSession& session)
{
    session.retireRecorderInbox();
    const auto inbox = std::make_shared<RecorderInbox>(
        this, [this](const std::shared_ptr<RecorderInbox>& current) { takeRecorderInbox(current); });
    session.recorderInbox = inbox;
    std::weak_ptr<RecorderInbox> weak = inbox;
    RecorderClient::ChunkHandler onChunk = [weak](const QByteArray& chunk) {
        if (const auto current = weak.lock())
            current->addChunk(current, chunk);
    };
    RecorderClient::LevelHandler onLevel = [weak](float level) {
        if (const auto current = weak.lock())
            current->addLevel(current, level);
    };
    RecorderClient::CaptureEndedHandler onEnded = [weak](const QString& deviceName, const QString& reason) {
        if (const auto current = weak.lock())
            current->addEnd(current, deviceName, reason);
    };
    m_services.recorder.start(
        m_settings->preferredMicrophoneUID(), std::move(onChunk), std::move(onLevel), std::move(onEnded));
}

void DictationCoordinator::stopCapture()
{
    m_services.recorder.stop();
    if (m_session)
        m_session->retireRecorderInbox();
    setAudioLevel(0);
}

void DictationCoordinator::stopSessionAudio()
{
    stopCapture();
    m_isStartingRecording = false;
    if (m_session)
        m_session->dropUnsentAudio();
}

void DictationCoordinator::takeRecorderInbox(const std::shared_ptr<RecorderInbox>& inbox)
{
    // A previous recorder's late deliveries, or those after the session ended, go nowhere.
    if (!m_session || inbox != m_session->recorderInbox)
        return;
    RecorderInbox::Contents contents = inbox->take();
    for (const float level : std::as_const(contents.levels))
        handleAudioLevel(level);
    for (const QByteArray& chunk : std::as_const(contents.chunks))
        handleRecordedAudioChunk(chunk);
    if (!contents.chunks.isEmpty() && m_session->isReadyForAudio)
        startDrain();
    if (contents.ended)
        handleCaptureEnded(contents.ended->first, contents.ended->second);
}

void DictationCoordinator::handleRecordedAudioChunk(const QByteArray& chunk)
{
    ++m_session->statistics.capturedChunkCount;
    if (m_session->isReadyForAudio)
        m_session->queuedAudioChunks.append(chunk);
    else
        m_session->bufferedAudioChunks.append(chunk);
}

void DictationCoordinator::handleAudioLevel(float level)
{
    setAudioLevel(level);
    DictationAudioStatistics& statistics = m_session->statistics;
    ++statistics.levelSampleCount;
    if (statistics.peakLevel <= level)
        statistics.peakLevel = level;
}

void DictationCoordinator::handleCaptureEnded(const QString& deviceName, const QString& reason)
{
    if (!m_session)
        return;
    const QString name = deviceName.isEmpty() ? QStringLiteral("unknown microphone") : deviceName;
    m_lostMicrophoneSessionID = m_session->id;
    m_lostMicrophoneName = name;
    logActivity(QStringLiteral("Lost the microphone \"%1\" during dictation %2: %3")
                    .arg(name, logID(m_session->id), reason.isEmpty() ? QStringLiteral("capture ended") : reason));
    // As if the user stopped now: the audio already captured goes out, then the stop. Run at once, so
    // the stop is for this session and no other.
    if (m_phase == DictationPhase::starting || m_phase == DictationPhase::recording)
        runDetached([this](CancelToken) { return stopRecordingTask(); }, m_lifetime.token(),
            QStringLiteral("captureEndedStop"));
}

void DictationCoordinator::startDrain()
{
    runDetached(
        [this](CancelToken) { return drainQueuedAudio(); }, m_lifetime.token(), QStringLiteral("drainQueuedAudio"));
}

QCoro::Task<> DictationCoordinator::markSessionReadyForAudio()
{
    if (!m_session || m_session->isReadyForAudio)
        co_return;
    DictationSession& session = *m_session;
    session.startTimeoutTask.cancel();
    session.startTimeoutTask = TaskHandle();
    session.isReadyForAudio = true;
    session.queuedAudioChunks.append(session.bufferedAudioChunks);
    session.bufferedAudioChunks.clear();
    // A stop that has begun keeps the phase at finalizing; a commit keeps it at inserting; a failure
    // the HUD has told (the microphone closed) keeps it at error.
    if (m_phase == DictationPhase::starting && !session.shouldStopAfterQueuedAudioDrains && !isStopPending()
        && !hasCommittedOrInserting())
        setPhase(DictationPhase::recording);
    QCoro::Task<> draining = drainQueuedAudio();
    co_await std::move(draining);
}

QCoro::Task<> DictationCoordinator::drainQueuedAudio()
{
    if (!m_session || m_session->isDrainingQueuedAudio)
        co_return;
    QPointer<DictationCoordinator> self(this);
    const QUuid sessionID = m_session->id;
    m_session->isDrainingQueuedAudio = true;
    while (!m_session->queuedAudioChunks.isEmpty()) {
        const QByteArray chunk = m_session->queuedAudioChunks.takeFirst();
        QCoro::Task<> sending = sendAudioChunk(chunk);
        co_await std::move(sending);
        // A teardown during the send ended the session; a newer session owns its own queue.
        if (!self || currentSessionID() != sessionID)
            co_return;
        if (m_phase == DictationPhase::error) {
            m_session->queuedAudioChunks.clear();
            m_session->bufferedAudioChunks.clear();
            m_session->isDrainingQueuedAudio = false;
            co_return;
        }
    }
    m_session->isDrainingQueuedAudio = false;
    QCoro::Task<> stopping = sendStopSessionIfDrained();
    co_await std::move(stopping);
}

QCoro::Task<> DictationCoordinator::sendAudioChunk(QByteArray chunk)
{
    if (!m_session || !m_session->transport || !m_config)
        co_return;
    QPointer<DictationCoordinator> self(this);
    if (chunk.size() > m_config->maxChunkBytes) {
        const QString message = QStringLiteral("Audio chunk exceeded cloud max size.");
        setLastError(message);
        setPhase(DictationPhase::error);
        logActivity(message);
        stopCapture();
        QCoro::Task<> closing = disconnectSessionTransport();
        co_await std::move(closing);
        co_return;
    }
    const WebSocketTransport transport = *m_session->transport;
    const QUuid sessionID = m_session->id;
    const qint64 sequence = m_session->audioSequence;
    std::exception_ptr failure;
    try {
        QCoro::Task<> sending
            = transport.send(ClientStreamMessage::audioChunk(sequence, QString::fromLatin1(chunk.toBase64())));
        co_await std::move(sending);
    } catch (...) {
        failure = std::current_exception();
    }
    // A late result of a session that is gone changes nothing.
    if (!self || currentSessionID() != sessionID)
        co_return;
    if (!failure) {
        m_session->audioSequence = sequence + 1;
        ++m_session->statistics.sentChunkCount;
        m_session->statistics.sentByteCount += chunk.size();
        co_return;
    }
    stopCapture();
    const QString description = localizedDescription(failure);
    setLastError(description);
    setPhase(DictationPhase::error);
    reportError(failure, QStringLiteral("Streaming audio to the cloud"));
    logActivity(QStringLiteral("Audio streaming failed: ") + description);
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

QCoro::Task<> DictationCoordinator::sendStopSessionIfDrained()
{
    if (!m_session || !m_session->shouldStopAfterQueuedAudioDrains || !m_session->queuedAudioChunks.isEmpty()
        || m_session->isDrainingQueuedAudio || !m_session->transport)
        co_return;
    QPointer<DictationCoordinator> self(this);
    m_session->shouldStopAfterQueuedAudioDrains = false;
    const WebSocketTransport transport = *m_session->transport;
    const QUuid sessionID = m_session->id;
    std::exception_ptr failure;
    try {
        QCoro::Task<> sending = transport.send(ClientStreamMessage::stopSession());
        co_await std::move(sending);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || currentSessionID() != sessionID)
        co_return;
    if (!failure) {
        // The service now owes the session's end; it does not get to keep it open for ever.
        replaceSessionTask(
            m_session->completionTask, sessionID,
            [this](QUuid id, CancelToken token) { return runSessionCompletionWatchdog(id, token); },
            QStringLiteral("sessionCompletionWatchdog"));
        co_return;
    }
    const QString description = localizedDescription(failure);
    setLastError(description);
    setPhase(DictationPhase::error);
    reportError(failure, QStringLiteral("Stopping a dictation session"));
    logActivity(QStringLiteral("Failed to stop recording cleanly: ") + description);
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

} // namespace tessvale
