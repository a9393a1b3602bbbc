#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "async/Spawn.h"
#include "audio/RecorderInbox.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

void DictationCoordinator::startRecorder(DictationSession& session)
{
    const auto inbox = std::make_shared<RecorderInbox>(
        this, [this](const std::shared_ptr<RecorderInbox>& current) { takeRecorderInbox(current); });
    session.attachRecorderInbox(inbox);
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
    m_start.reset();
    if (m_session)
        m_session->dropUnsentAudio();
}

void DictationCoordinator::takeRecorderInbox(const std::shared_ptr<RecorderInbox>& inbox)
{
    // A previous recorder's late deliveries, or those after the session ended, go nowhere.
    if (!m_session || inbox != m_session->recorderInbox())
        return;
    RecorderInbox::Contents contents = inbox->take();
    for (const float level : std::as_const(contents.levels))
        handleAudioLevel(level);
    for (const QByteArray& chunk : std::as_const(contents.chunks))
        m_session->addCapturedChunk(chunk);
    if (!contents.chunks.isEmpty() && m_session->isReadyForAudio())
        startDrain();
    if (contents.ended)
        handleCaptureEnded(contents.ended->first, contents.ended->second);
}

void DictationCoordinator::handleAudioLevel(float level)
{
    setAudioLevel(level);
    m_session->addLevel(level);
}

void DictationCoordinator::handleCaptureEnded(const QString& deviceName, const QString& reason)
{
    if (!m_session)
        return;
    const QString name = deviceName.isEmpty() ? QStringLiteral("unknown microphone") : deviceName;
    m_lostMicrophone = LostMicrophone { m_session->id(), name };
    logActivity(QStringLiteral("Lost the microphone \"%1\" during dictation %2: %3")
                    .arg(name, logID(m_session->id()), reason.isEmpty() ? QStringLiteral("capture ended") : reason));
    // As if the user stopped now: the audio already captured goes out, then the stop. Run at once, so
    // the stop is for this session and no other.
    if (m_state.phase == DictationPhase::starting || m_state.phase == DictationPhase::recording)
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
    if (!m_session || !m_session->markReadyForAudio())
        co_return;
    // A stop that has begun keeps the phase at finalizing; a commit keeps it at inserting; a failure
    // the HUD has told (the microphone closed) keeps it at error.
    if (m_state.phase == DictationPhase::starting && !m_session->isStopAfterDrainRequested() && !isStopPending()
        && !hasCommittedOrInserting())
        setPhase(DictationPhase::recording);
    QCoro::Task<> draining = drainQueuedAudio();
    co_await std::move(draining);
}

QCoro::Task<> DictationCoordinator::drainQueuedAudio()
{
    if (!m_session || !m_session->beginDrain())
        co_return;
    QPointer<DictationCoordinator> self(this);
    const QUuid sessionID = m_session->id();
    while (const std::optional<QByteArray> chunk = m_session->takeQueuedChunk()) {
        QCoro::Task<> sending = sendAudioChunk(*chunk);
        co_await std::move(sending);
        // A teardown during the send ended the session; a newer session owns its own queue.
        if (!self || currentSessionID() != sessionID)
            co_return;
        if (m_state.phase == DictationPhase::error) {
            m_session->abandonDrain();
            co_return;
        }
    }
    m_session->endDrain();
    QCoro::Task<> stopping = sendStopSessionIfDrained();
    co_await std::move(stopping);
}

QCoro::Task<> DictationCoordinator::sendAudioChunk(QByteArray chunk)
{
    if (!m_session || !m_session->transport() || !m_state.config)
        co_return;
    QPointer<DictationCoordinator> self(this);
    if (chunk.size() > m_state.config->maxChunkBytes) {
        const QString message = QStringLiteral("Audio chunk exceeded cloud max size.");
        setLastError(message);
        setPhase(DictationPhase::error);
        logActivity(message);
        stopCapture();
        QCoro::Task<> closing = disconnectSessionTransport();
        co_await std::move(closing);
        co_return;
    }
    const WebSocketTransport transport = *m_session->transport();
    const QUuid sessionID = m_session->id();
    const qint64 sequence = m_session->nextAudioSequence();
    QCoro::Task<Captured<void>> sending = captured([&] {
        return transport.send(ClientStreamMessage::audioChunk(sequence, QString::fromLatin1(chunk.toBase64())));
    });
    const Captured<void> sent = co_await std::move(sending);
    // A late result of a session that is gone changes nothing.
    if (!self || currentSessionID() != sessionID)
        co_return;
    if (!sent.error) {
        m_session->recordSentChunk(sequence, chunk.size());
        co_return;
    }
    stopCapture();
    QCoro::Task<> failing = failStreaming(
        sent.error, QStringLiteral("Streaming audio to the cloud"), QStringLiteral("Audio streaming failed: "));
    co_await std::move(failing);
}

QCoro::Task<> DictationCoordinator::sendStopSessionIfDrained()
{
    if (!m_session || !m_session->takeStopIfDrained())
        co_return;
    QPointer<DictationCoordinator> self(this);
    const WebSocketTransport transport = *m_session->transport();
    const QUuid sessionID = m_session->id();
    QCoro::Task<Captured<void>> sending = captured([&] { return transport.send(ClientStreamMessage::stopSession()); });
    const Captured<void> sent = co_await std::move(sending);
    if (!self || currentSessionID() != sessionID)
        co_return;
    if (!sent.error) {
        // The service now owes the session's end; it does not get to keep it open for ever.
        replaceSessionTask(
            DictationSession::Timer::completion, sessionID,
            [this](QUuid id, CancelToken token) { return runSessionCompletionWatchdog(id, token); },
            QStringLiteral("sessionCompletionWatchdog"));
        co_return;
    }
    QCoro::Task<> failing = failStreaming(sent.error, QStringLiteral("Stopping a dictation session"),
        QStringLiteral("Failed to stop recording cleanly: "));
    co_await std::move(failing);
}

QCoro::Task<> DictationCoordinator::failStreaming(std::exception_ptr failure, QString context, QString logPrefix)
{
    const QString description = localizedDescription(failure);
    setLastError(description);
    setPhase(DictationPhase::error);
    reportError(failure, context);
    logActivity(logPrefix + description);
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

} // namespace tessvale
