#include "coordinator/DictationCoordinator.h"

#include <chrono>
#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

namespace {

const QString kRejectedKeyText = QStringLiteral("Saved session expired before dictation could start");

} // namespace

void DictationCoordinator::replaceSessionTask(
    DictationSession::Timer timer, QUuid sessionID, SessionTaskBody body, const QString& label)
{
    m_session->cancelTimer(timer);
    m_session->setTimer(timer,
        launchMainActorTask(
            [body = std::move(body), sessionID](CancelToken token) { return body(sessionID, token); }, label));
}

QCoro::Task<> DictationCoordinator::runSessionStartTimeout(QUuid sessionID, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> waiting = waitFor(m_services.timing.sessionStartTimeout, token);
    const bool slept = co_await std::move(waiting);
    if (!slept)
        co_return;
    if (!self)
        co_return;
    QCoro::Task<> handling = handleSessionStartTimeout(sessionID);
    co_await std::move(handling);
}

QCoro::Task<> DictationCoordinator::handleSessionStartTimeout(QUuid sessionID)
{
    if (currentSessionID() != sessionID || m_session->isReadyForAudio())
        co_return;
    stopSessionAudio();
    setLastError(QStringLiteral("Tessvale took too long to start the dictation session."));
    setPhase(DictationPhase::error);
    logActivity(QStringLiteral("Timed out waiting for the dictation session to start."));
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

QCoro::Task<> DictationCoordinator::handleWebSocketTermination(QUuid sessionID, std::exception_ptr error)
{
    QPointer<DictationCoordinator> self(this);
    if (m_closingSessions.closing == sessionID) {
        logActivity(QStringLiteral("Ignoring websocket termination for ") + logID(sessionID)
            + QStringLiteral(" during disconnect."));
        co_return;
    }
    // The usual order: the socket reports its end after our disconnect has returned.
    if (m_closingSessions.closed == sessionID) {
        logActivity(QStringLiteral("Ignoring websocket termination for ") + logID(sessionID)
            + QStringLiteral(" after its disconnect."));
        co_return;
    }
    // A failed opening also fails the start message, and the start handles it.
    if (currentSessionID() == sessionID && m_session->isOpening()) {
        logActivity(QStringLiteral("Ignoring websocket termination for ") + logID(sessionID)
            + QStringLiteral(" while its start handles the failed opening."));
        co_return;
    }
    if (currentSessionID() != sessionID) {
        logActivity(QStringLiteral("Ignoring websocket termination for ") + logID(sessionID)
            + QStringLiteral(" because active session is ")
            + (m_session ? logID(m_session->id()) : QStringLiteral("none")) + QLatin1Char('.'));
        co_return;
    }
    if (hasCommittedOrInserting()) {
        logActivity(QStringLiteral("Ignoring websocket termination after transcript commit for ") + logID(sessionID)
            + QLatin1Char('.'));
        co_return;
    }
    // The service finished the session before its socket closed: that is its normal end.
    if (m_session->isCompleted()) {
        logActivity(QStringLiteral("Ignoring websocket termination for ") + logID(sessionID)
            + QStringLiteral(" after the session completed."));
        QCoro::Task<> finishing = finishSessionIfIdle();
        co_await std::move(finishing);
        co_return;
    }
    if (!isLivePhase())
        co_return;

    // The stream's opening refused the key: the same visible sign-out as a rejected start.
    if (error) {
        QCoro::Task<bool> clearing = clearRejectedAPIKeyIfNeeded(error, kRejectedKeyText, kRejectedKeyText);
        const bool signedOut = co_await std::move(clearing);
        if (!self || signedOut || currentSessionID() != sessionID)
            co_return;
    }

    stopSessionAudio();
    m_session->endStreaming();
    const QString message
        = error ? localizedDescription(error) : QStringLiteral("The dictation connection closed unexpectedly.");
    QCoro::Task<> ending = endFailedSession(sessionID, message, QStringLiteral("WebSocket terminated for "));
    co_await std::move(ending);
}

QCoro::Task<> DictationCoordinator::endFailedSession(QUuid sessionID, QString message, QString logPrefix)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> recovering = fetchDictationRecoveryIfNeeded(sessionID, message, m_session->insertionTarget());
    const bool recovered = co_await std::move(recovering);
    // A commit that won the race, or a teardown meanwhile, settles the session instead.
    if (!self || currentSessionID() != sessionID || hasCommittedOrInserting())
        co_return;
    if (!recovered) {
        setLastError(message);
        setPhase(DictationPhase::error);
    }
    logActivity(logPrefix + logID(sessionID) + QStringLiteral(": ") + m_state.lastError);
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

void DictationCoordinator::startWebSocketPing(QUuid sessionID)
{
    if (currentSessionID() != sessionID)
        return;
    m_session->cancelTimer(DictationSession::Timer::ping);
    if (!m_state.config || m_state.config->webSocketPingIntervalSeconds <= 0)
        return;
    const Duration interval = std::chrono::seconds(m_state.config->webSocketPingIntervalSeconds);
    m_session->setTimer(DictationSession::Timer::ping,
        launchMainActorTask(
            [this, sessionID, interval](CancelToken token) { return runWebSocketPing(sessionID, interval, token); },
            QStringLiteral("webSocketPing")));
}

QCoro::Task<> DictationCoordinator::runWebSocketPing(QUuid sessionID, Duration interval, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    while (self && !token.isCancelled()) {
        QCoro::Task<bool> waiting = waitFor(interval, token);
        const bool slept = co_await std::move(waiting);
        if (!slept)
            co_return;
        if (!self || token.isCancelled())
            co_return;
        QCoro::Task<> pinging = sendWebSocketPing(sessionID);
        co_await std::move(pinging);
    }
}

QCoro::Task<> DictationCoordinator::sendWebSocketPing(QUuid sessionID)
{
    QPointer<DictationCoordinator> self(this);
    if (currentSessionID() != sessionID || !m_session->transport() || !isLivePhase()) {
        if (m_session)
            m_session->cancelTimer(DictationSession::Timer::ping);
        co_return;
    }
    const WebSocketTransport transport = *m_session->transport();
    QCoro::Task<Captured<void>> sending
        = captured([&] { return transport.send(ClientStreamMessage::ping(sessionID.toString(QUuid::WithoutBraces))); });
    const Captured<void> sent = co_await std::move(sending);
    const std::exception_ptr failure = sent.error;
    if (!self || !failure || currentSessionID() != sessionID)
        co_return;
    logActivity(QStringLiteral("WebSocket keepalive failed for ") + logID(sessionID) + QStringLiteral(": ")
        + localizedDescription(failure));
    QCoro::Task<> terminating = handleWebSocketTermination(sessionID, failure);
    co_await std::move(terminating);
}

QCoro::Task<bool> DictationCoordinator::waitFor(Duration duration, CancelToken token)
{
    // Touches nothing of the coordinator after the wait, so the caller's own check decides.
    QCoro::Task<> waiting = m_services.sleeper->sleep(duration, std::move(token));
    try {
        co_await std::move(waiting);
    } catch (const CancelledError&) {
        co_return false;
    }
    co_return true;
}

QCoro::Task<> DictationCoordinator::runSessionErrorCleanup(QUuid sessionID, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> waiting = waitFor(m_services.timing.sessionErrorDisconnectGracePeriod, token);
    const bool slept = co_await std::move(waiting);
    if (!slept)
        co_return;
    if (!self || currentSessionID() != sessionID || m_state.phase != DictationPhase::error || hasCommittedOrInserting())
        co_return;
    logActivity(
        QStringLiteral("Disconnecting after unrecovered server error for ") + logID(sessionID) + QLatin1Char('.'));
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

QCoro::Task<> DictationCoordinator::runSessionCompletionWatchdog(QUuid sessionID, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> waiting = waitFor(m_services.timing.sessionCompletionTimeout, token);
    const bool slept = co_await std::move(waiting);
    if (!slept)
        co_return;
    if (!self || currentSessionID() != sessionID || hasCommittedOrInserting() || m_session->isCompleted()
        || !isLivePhase())
        co_return;
    stopSessionAudio();
    QCoro::Task<> ending
        = endFailedSession(sessionID, QStringLiteral("The dictation service took too long to finish the dictation."),
            QStringLiteral("Gave up waiting for the dictation session to finish for "));
    co_await std::move(ending);
}

QCoro::Task<> DictationCoordinator::runCommittedTranscriptInsertion(TranscriptCommittedPayload payload)
{
    if (!shouldHandleSessionMessage(payload.sessionID, QStringLiteral("InsertTranscript"))) {
        endInsertion();
        QCoro::Task<> finishing = finishSessionIfIdle();
        co_await std::move(finishing);
        co_return;
    }
    QCoro::Task<> inserting = insertTranscriptTask(payload.finalText, payload.sessionID, m_session->insertionTarget());
    co_await std::move(inserting);
}

} // namespace tessvale
