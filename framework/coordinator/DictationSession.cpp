#include "coordinator/DictationSession.h"

#include <QMetaObject>

namespace tessvale {

RecorderInbox::RecorderInbox(QObject* receiver, WakeHandler onWake)
    : m_receiver(receiver)
    , m_onWake(std::move(onWake))
{
}

void RecorderInbox::addChunk(const std::shared_ptr<RecorderInbox>& self, const QByteArray& chunk)
{
    std::lock_guard lock(m_mutex);
    m_contents.chunks.append(chunk);
    wakeLocked(self);
}

void RecorderInbox::addLevel(const std::shared_ptr<RecorderInbox>& self, float level)
{
    std::lock_guard lock(m_mutex);
    m_contents.levels.append(level);
    wakeLocked(self);
}

void RecorderInbox::addEnd(const std::shared_ptr<RecorderInbox>& self, const QString& deviceName, const QString& reason)
{
    std::lock_guard lock(m_mutex);
    m_contents.ended = std::make_pair(deviceName, reason);
    wakeLocked(self);
}

RecorderInbox::Contents RecorderInbox::take()
{
    std::lock_guard lock(m_mutex);
    m_wakePosted = false;
    return std::exchange(m_contents, Contents());
}

void RecorderInbox::detach()
{
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
    m_contents = Contents();
}

void RecorderInbox::wakeLocked(const std::shared_ptr<RecorderInbox>& self)
{
    if (!m_receiver || m_wakePosted)
        return;
    m_wakePosted = true;
    // Posted under the lock: the owner detaches before its receiver goes, and Qt drops what is still
    // queued for a destroyed object.
    std::weak_ptr<RecorderInbox> inbox = self;
    QMetaObject::invokeMethod(
        m_receiver,
        [onWake = m_onWake, inbox] {
            if (const std::shared_ptr<RecorderInbox> current = inbox.lock())
                onWake(current);
        },
        Qt::QueuedConnection);
}

DictationSession::DictationSession(
    QUuid sessionID, std::optional<WebSocketTransport> sessionTransport, FocusedInsertionTargetRef target)
    : id(sessionID)
    , transport(std::move(sessionTransport))
    , insertionTarget(std::move(target))
{
}

DictationSession::~DictationSession()
{
    cancelTimers();
    retireRecorderInbox();
}

void DictationSession::halt()
{
    cancelTimers();
    dropUnsentAudio();
    isReadyForAudio = false;
    isDrainingQueuedAudio = false;
    statistics = DictationAudioStatistics();
}

void DictationSession::cancelTimers()
{
    for (TaskHandle* task : { &startTimeoutTask, &errorCleanupTask, &pingTask, &completionTask }) {
        task->cancel();
        *task = TaskHandle();
    }
}

void DictationSession::dropUnsentAudio()
{
    bufferedAudioChunks.clear();
    queuedAudioChunks.clear();
    shouldStopAfterQueuedAudioDrains = false;
}

void DictationSession::retireRecorderInbox()
{
    if (!recorderInbox)
        return;
    recorderInbox->detach();
    recorderInbox.reset();
}

} // namespace tessvale
