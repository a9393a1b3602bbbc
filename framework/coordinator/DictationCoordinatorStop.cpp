#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/CancelToken.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

bool DictationCoordinator::isStopPending() const
{
    return m_stopPendingSessionID && m_stopPendingSessionID == m_sessionID;
}

QCoro::Task<> DictationCoordinator::stopRecordingTask()
{
    QPointer<DictationCoordinator> self(this);
    m_pendingPushToTalkStop = false;
    setPhase(DictationPhase::finalizing);
    logActivity(QStringLiteral("Stopping recording for ")
        + (m_triggerMode ? rawValue(*m_triggerMode) : QStringLiteral("unknown")) + QStringLiteral(" session."));
    const std::optional<QUuid> stoppingSessionID = m_sessionID;
    // Marked before the grace wait, so a confirmation or a state change during it keeps finalizing
    // and cannot make this stop give up.
    m_stopPendingSessionID = stoppingSessionID;

    if (m_services.recorder.isRunning() && stoppingSessionID) {
        try {
            QCoro::Task<> waiting = m_services.sleeper->sleep(m_services.timing.stopCaptureGracePeriod, bound({}));
            co_await std::move(waiting);
        } catch (...) {
            if (self)
                logActivity(QStringLiteral("Stop capture grace period interrupted: ")
                    + localizedDescription(std::current_exception()));
        }
        if (!self)
            co_return;
    }

    // Another session, or a failure that has already closed the microphone, owns the state now.
    if (m_sessionID != stoppingSessionID || m_phase == DictationPhase::error)
        co_return;

    const QList<QByteArray> leftover = m_services.recorder.stop();
    // Chunks delivered before stop() returned come first, whatever the event loop still holds.
    if (const std::shared_ptr<RecorderInbox> inbox = m_recorderInbox.inbox)
        takeRecorderInbox(inbox);
    retireRecorderInbox();
    m_capturedAudioChunkCount += leftover.size();
    m_isStartingRecording = false;
    setAudioLevel(0);

    if (!m_webSocket) {
        setPhase(m_isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
        co_return;
    }
    if (m_isSessionReadyForAudio)
        m_queuedAudioChunks.append(leftover);
    else
        m_bufferedAudioChunks.append(leftover);
    m_shouldStopAfterQueuedAudioDrains = true;
    if (m_isSessionReadyForAudio) {
        QCoro::Task<> draining = drainQueuedAudio();
        co_await std::move(draining);
    }
    // Otherwise the service's confirmation moves the buffer to the queue and the stop follows it.
}

} // namespace tessvale
