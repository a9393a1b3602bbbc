#include "coordinator/DictationSession.h"

#include "audio/RecorderInbox.h"

namespace tessvale {

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
