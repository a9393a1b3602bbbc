#include "coordinator/DictationSession.h"

#include <utility>

#include "async/CancelToken.h"
#include "audio/RecorderInbox.h"

namespace tessvale {

DictationSession::DictationSession(
    QUuid sessionID, std::optional<WebSocketTransport> sessionTransport, FocusedInsertionTargetRef target)
    : m_id(sessionID)
    , m_transport(std::move(sessionTransport))
    , m_insertionTarget(std::move(target))
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
    m_isReadyForAudio = false;
    m_isDrainingQueuedAudio = false;
    m_statistics = DictationAudioStatistics();
}

void DictationSession::endStreaming()
{
    m_isReadyForAudio = false;
    m_isDrainingQueuedAudio = false;
    cancelTimer(Timer::startTimeout);
}

void DictationSession::dropUnsentAudio()
{
    m_bufferedAudioChunks.clear();
    m_queuedAudioChunks.clear();
    m_shouldStopAfterQueuedAudioDrains = false;
}

TaskHandle& DictationSession::timerTask(Timer timer)
{
    switch (timer) {
    case Timer::startTimeout:
        return m_startTimeoutTask;
    case Timer::errorCleanup:
        return m_errorCleanupTask;
    case Timer::ping:
        return m_pingTask;
    case Timer::completion:
        break;
    }
    return m_completionTask;
}

void DictationSession::setTimer(Timer timer, TaskHandle task)
{
    TaskHandle& field = timerTask(timer);
    field.cancel();
    field = std::move(task);
}

void DictationSession::cancelTimer(Timer timer)
{
    TaskHandle& field = timerTask(timer);
    field.cancel();
    field = TaskHandle();
}

void DictationSession::cancelTimers()
{
    for (const Timer timer : { Timer::startTimeout, Timer::errorCleanup, Timer::ping, Timer::completion })
        cancelTimer(timer);
}

void DictationSession::forgetOutcome()
{
    m_lastCommittedText.clear();
    m_recovery.reset();
}

void DictationSession::attachRecorderInbox(std::shared_ptr<RecorderInbox> inbox)
{
    retireRecorderInbox();
    m_recorderInbox = std::move(inbox);
}

void DictationSession::retireRecorderInbox()
{
    if (!m_recorderInbox)
        return;
    m_recorderInbox->detach();
    m_recorderInbox.reset();
}

void DictationSession::addCapturedChunk(const QByteArray& chunk)
{
    ++m_statistics.capturedChunkCount;
    if (m_isReadyForAudio)
        m_queuedAudioChunks.append(chunk);
    else
        m_bufferedAudioChunks.append(chunk);
}

void DictationSession::addLeftoverAndStop(const QList<QByteArray>& leftover)
{
    if (m_isReadyForAudio)
        m_queuedAudioChunks.append(leftover);
    else
        m_bufferedAudioChunks.append(leftover);
    m_shouldStopAfterQueuedAudioDrains = true;
}

void DictationSession::addLevel(float level)
{
    ++m_statistics.levelSampleCount;
    if (m_statistics.peakLevel <= level)
        m_statistics.peakLevel = level;
}

bool DictationSession::markReadyForAudio()
{
    if (m_isReadyForAudio)
        return false;
    cancelTimer(Timer::startTimeout);
    m_isReadyForAudio = true;
    m_queuedAudioChunks.append(m_bufferedAudioChunks);
    m_bufferedAudioChunks.clear();
    return true;
}

bool DictationSession::beginDrain()
{
    if (m_isDrainingQueuedAudio)
        return false;
    m_isDrainingQueuedAudio = true;
    return true;
}

std::optional<QByteArray> DictationSession::takeQueuedChunk()
{
    if (m_queuedAudioChunks.isEmpty())
        return std::nullopt;
    return m_queuedAudioChunks.takeFirst();
}

void DictationSession::abandonDrain()
{
    m_queuedAudioChunks.clear();
    m_bufferedAudioChunks.clear();
    m_isDrainingQueuedAudio = false;
}

void DictationSession::recordSentChunk(qint64 sequence, qsizetype bytes)
{
    m_audioSequence = sequence + 1;
    ++m_statistics.sentChunkCount;
    m_statistics.sentByteCount += bytes;
}

bool DictationSession::takeStopIfDrained()
{
    if (!m_shouldStopAfterQueuedAudioDrains || !m_queuedAudioChunks.isEmpty() || m_isDrainingQueuedAudio
        || !m_transport)
        return false;
    m_shouldStopAfterQueuedAudioDrains = false;
    return true;
}

std::optional<OneShot<bool>> DictationSession::awaitRecoveryAnswer()
{
    if (!m_recovery || m_recovery->isAnswered())
        return std::nullopt;
    return m_recovery->addWaiter();
}

std::shared_ptr<DictationSession::RecoveryFetch> DictationSession::beginRecovery()
{
    m_recovery = std::make_shared<RecoveryFetch>();
    return m_recovery;
}

DictationSession::RecoveryFetch::~RecoveryFetch()
{
    fail();
}

OneShot<bool> DictationSession::RecoveryFetch::addWaiter()
{
    OneShot<bool> answer;
    m_waiters.append(answer);
    return answer;
}

void DictationSession::RecoveryFetch::answer(bool recovered)
{
    m_isAnswered = true;
    for (OneShot<bool>& waiter : std::exchange(m_waiters, {}))
        waiter.resolve(recovered);
}

void DictationSession::RecoveryFetch::fail()
{
    m_isAnswered = true;
    for (OneShot<bool>& waiter : std::exchange(m_waiters, {}))
        waiter.fail(CancelledError());
}

} // namespace tessvale
