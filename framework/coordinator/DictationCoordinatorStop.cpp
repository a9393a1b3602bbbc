#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/CancelToken.h"
#include "audio/RecorderInbox.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

bool DictationCoordinator::isStopPending() const
{
    return m_session && m_session->isStopPending();
}

QCoro::Task<> DictationCoordinator::stopRecordingTask()
{
    QPointer<DictationCoordinator> self(this);
    // This stop answers a release queued meanwhile too.
    if (m_start)
        m_start->isPushToTalkStopQueued = false;
    setPhase(DictationPhase::finalizing);
    logActivity(QStringLiteral("Stopping recording for ")
        + (m_state.triggerMode ? rawValue(*m_state.triggerMode) : QStringLiteral("unknown"))
        + QStringLiteral(" session."));
    const std::optional<QUuid> stoppingSessionID = currentSessionID();
    // Marked before the grace wait, so a confirmation or a state change during it keeps finalizing
    // and cannot make this stop give up.
    if (m_session)
        m_session->markStopPending();

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
    if (currentSessionID() != stoppingSessionID || m_state.phase == DictationPhase::error)
        co_return;

    const QList<QByteArray> leftover = m_services.recorder.stop();
    if (m_session) {
        // Chunks delivered before stop() returned come first, whatever the event loop still holds.
        if (const std::shared_ptr<RecorderInbox> inbox = m_session->recorderInbox())
            takeRecorderInbox(inbox);
    }
    // Taking the inbox may have ended the session (a lost microphone's stop).
    if (m_session) {
        m_session->retireRecorderInbox();
        m_session->countCapturedChunks(leftover.size());
    }
    m_start.reset();
    setAudioLevel(0);

    if (!m_session || !m_session->transport()) {
        setPhase(m_state.isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
        co_return;
    }
    m_session->addLeftoverAndStop(leftover);
    if (m_session->isReadyForAudio()) {
        QCoro::Task<> draining = drainQueuedAudio();
        co_await std::move(draining);
    }
    // Otherwise the service's confirmation moves the buffer to the queue and the stop follows it.
}

} // namespace tessvale
