#include "coordinator/DictationCoordinator.h"

#include <mutex>
#include <utility>

#include <QMetaObject>
#include <QPointer>

#include "async/Spawn.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

// What one recorder start hands over from the capture thread. The capture thread appends and posts
// one wake-up; the main thread takes everything in order. Taking it synchronously at a stop puts
// every chunk delivered before stop() returned ahead of the leftovers, whatever is still queued in
// the event loop.
class DictationCoordinator::RecorderInbox
{
public:
    explicit RecorderInbox(DictationCoordinator* coordinator)
        : m_coordinator(coordinator)
    {
    }

    struct Contents
    {
        QList<QByteArray> chunks;
        QList<float> levels;
        std::optional<std::pair<QString, QString>> ended;
    };

    void addChunk(const std::shared_ptr<RecorderInbox>& self, const QByteArray& chunk)
    {
        std::lock_guard lock(m_mutex);
        m_contents.chunks.append(chunk);
        wakeLocked(self);
    }

    void addLevel(const std::shared_ptr<RecorderInbox>& self, float level)
    {
        std::lock_guard lock(m_mutex);
        m_contents.levels.append(level);
        wakeLocked(self);
    }

    void addEnd(const std::shared_ptr<RecorderInbox>& self, const QString& deviceName, const QString& reason)
    {
        std::lock_guard lock(m_mutex);
        m_contents.ended = std::make_pair(deviceName, reason);
        wakeLocked(self);
    }

    Contents take()
    {
        std::lock_guard lock(m_mutex);
        m_wakePosted = false;
        return std::exchange(m_contents, Contents());
    }

    // Nothing is posted after this returns.
    void detach()
    {
        std::lock_guard lock(m_mutex);
        m_coordinator = nullptr;
        m_contents = Contents();
    }

private:
    void wakeLocked(const std::shared_ptr<RecorderInbox>& self)
    {
        if (!m_coordinator || m_wakePosted)
            return;
        m_wakePosted = true;
        // Posted under the lock: the coordinator's destruction detaches first, and Qt drops what is
        // still queued for a destroyed object.
        DictationCoordinator* coordinator = m_coordinator;
        std::weak_ptr<RecorderInbox> inbox = self;
        QMetaObject::invokeMethod(
            coordinator,
            [coordinator, inbox] {
                if (const std::shared_ptr<RecorderInbox> current = inbox.lock())
                    coordinator->takeRecorderInbox(current);
            },
            Qt::QueuedConnection);
    }

    std::mutex m_mutex;
    DictationCoordinator* m_coordinator;
    Contents m_contents;
    bool m_wakePosted = false;
};

DictationCoordinator::RecorderInboxHolder::~RecorderInboxHolder()
{
    if (inbox)
        inbox->detach();
}

void DictationCoordinator::startRecorder(const QUuid& sessionID)
{
    Q_UNUSED(sessionID);
    retireRecorderInbox();
    const auto inbox = std::make_shared<RecorderInbox>(this);
    m_recorderInbox.inbox = inbox;
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

void DictationCoordinator::retireRecorderInbox()
{
    if (!m_recorderInbox.inbox)
        return;
    m_recorderInbox.inbox->detach();
    m_recorderInbox.inbox.reset();
}

void DictationCoordinator::stopCapture()
{
    m_services.recorder.stop();
    retireRecorderInbox();
    setAudioLevel(0);
}

void DictationCoordinator::takeRecorderInbox(const std::shared_ptr<RecorderInbox>& inbox)
{
    // A previous recorder's late deliveries, or those after the session ended, go nowhere.
    if (inbox != m_recorderInbox.inbox)
        return;
    RecorderInbox::Contents contents = inbox->take();
    if (!m_sessionID)
        return;
    for (const float level : std::as_const(contents.levels))
        handleAudioLevel(level);
    for (const QByteArray& chunk : std::as_const(contents.chunks))
        handleRecordedAudioChunk(chunk);
    if (!contents.chunks.isEmpty() && m_isSessionReadyForAudio)
        startDrain();
    if (contents.ended)
        handleCaptureEnded(contents.ended->first, contents.ended->second);
}

void DictationCoordinator::handleRecordedAudioChunk(const QByteArray& chunk)
{
    ++m_capturedAudioChunkCount;
    if (m_isSessionReadyForAudio)
        m_queuedAudioChunks.append(chunk);
    else
        m_bufferedAudioChunks.append(chunk);
}

void DictationCoordinator::handleAudioLevel(float level)
{
    setAudioLevel(level);
    ++m_audioLevelSampleCount;
    if (m_peakAudioLevel <= level)
        m_peakAudioLevel = level;
}

void DictationCoordinator::handleCaptureEnded(const QString& deviceName, const QString& reason)
{
    if (!m_sessionID)
        return;
    const QString name = deviceName.isEmpty() ? QStringLiteral("unknown microphone") : deviceName;
    m_lostMicrophoneSessionID = m_sessionID;
    m_lostMicrophoneName = name;
    logActivity(QStringLiteral("Lost the microphone \"%1\" during dictation %2: %3")
                    .arg(name, logID(*m_sessionID), reason.isEmpty() ? QStringLiteral("capture ended") : reason));
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
    if (m_isSessionReadyForAudio)
        co_return;
    m_sessionStartTimeoutTask.cancel();
    m_sessionStartTimeoutTask = TaskHandle();
    m_isSessionReadyForAudio = true;
    m_queuedAudioChunks.append(m_bufferedAudioChunks);
    m_bufferedAudioChunks.clear();
    // A stop that has begun keeps the phase at finalizing; a commit keeps it at inserting.
    if (!m_shouldStopAfterQueuedAudioDrains && !isStopPending() && !hasCommittedOrInserting())
        setPhase(DictationPhase::recording);
    QCoro::Task<> draining = drainQueuedAudio();
    co_await std::move(draining);
}

QCoro::Task<> DictationCoordinator::drainQueuedAudio()
{
    if (m_isDrainingQueuedAudio)
        co_return;
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUuid> sessionID = m_sessionID;
    m_isDrainingQueuedAudio = true;
    while (!m_queuedAudioChunks.isEmpty()) {
        const QByteArray chunk = m_queuedAudioChunks.takeFirst();
        QCoro::Task<> sending = sendAudioChunk(chunk);
        co_await std::move(sending);
        // A teardown during the send reset the flags; a newer session owns them now.
        if (!self || m_sessionID != sessionID)
            co_return;
        if (m_phase == DictationPhase::error) {
            m_queuedAudioChunks.clear();
            m_bufferedAudioChunks.clear();
            m_isDrainingQueuedAudio = false;
            co_return;
        }
    }
    m_isDrainingQueuedAudio = false;
    QCoro::Task<> stopping = sendStopSessionIfDrained();
    co_await std::move(stopping);
}

QCoro::Task<> DictationCoordinator::sendAudioChunk(QByteArray chunk)
{
    if (!m_webSocket || !m_config)
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
    const WebSocketTransport transport = *m_webSocket;
    const std::optional<QUuid> sessionID = m_sessionID;
    const qint64 sequence = m_audioSequence;
    std::exception_ptr failure;
    try {
        QCoro::Task<> sending
            = transport.send(ClientStreamMessage::audioChunk(sequence, QString::fromLatin1(chunk.toBase64())));
        co_await std::move(sending);
    } catch (...) {
        failure = std::current_exception();
    }
    // A late result of a session that is gone changes nothing.
    if (!self || m_sessionID != sessionID)
        co_return;
    if (!failure) {
        m_audioSequence = sequence + 1;
        ++m_sentAudioChunkCount;
        m_sentAudioByteCount += chunk.size();
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
    if (!m_shouldStopAfterQueuedAudioDrains || !m_queuedAudioChunks.isEmpty() || m_isDrainingQueuedAudio || !m_webSocket
        || !m_sessionID)
        co_return;
    QPointer<DictationCoordinator> self(this);
    m_shouldStopAfterQueuedAudioDrains = false;
    const WebSocketTransport transport = *m_webSocket;
    const QUuid sessionID = *m_sessionID;
    std::exception_ptr failure;
    try {
        QCoro::Task<> sending = transport.send(ClientStreamMessage::stopSession());
        co_await std::move(sending);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || m_sessionID != sessionID)
        co_return;
    if (!failure) {
        // The service now owes the session's end; it does not get to keep it open for ever.
        replaceSessionTask(
            m_sessionCompletionTask, sessionID,
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
