#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"

namespace tessvale {

namespace {

constexpr qsizetype kTranscriptHistoryLimit = 20;

} // namespace

bool DictationCoordinator::hasCommittedOrInserting() const
{
    return (m_session && !m_session->lastCommittedText().isEmpty()) || m_insertion.isRunning;
}

bool DictationCoordinator::shouldHandleSessionMessage(const QUuid& id, const QString& label)
{
    if (!m_session) {
        logActivity(QStringLiteral("Ignoring ") + label + QStringLiteral(" for ") + logID(id)
            + QStringLiteral(" because there is no active session."));
        return false;
    }
    if (id == m_session->id())
        return true;
    logActivity(QStringLiteral("Ignoring ") + label + QStringLiteral(" for stale session ") + logID(id)
        + QStringLiteral(". Active session is ") + logID(m_session->id()) + QLatin1Char('.'));
    return false;
}

bool DictationCoordinator::shouldHandleConnectionMessage(
    const QString& label, const std::optional<QUuid>& connectionSessionID)
{
    if (!connectionSessionID || currentSessionID() == connectionSessionID)
        return true;
    logActivity(QStringLiteral("Ignoring ") + label + QStringLiteral(" for ") + logID(*connectionSessionID)
        + QStringLiteral(" because active session is ") + (m_session ? logID(m_session->id()) : QStringLiteral("none"))
        + QLatin1Char('.'));
    return false;
}

QCoro::Task<> DictationCoordinator::handleServerMessage(ServerStreamMessage message, QUuid connectionSessionID)
{
    QPointer<DictationCoordinator> self(this);
    switch (message.messageCase()) {
    case ServerStreamMessage::Case::sessionStarted: {
        const QUuid id = message.sessionID().value_or(QUuid());
        if (!shouldHandleSessionMessage(id, QStringLiteral("SessionStarted")))
            co_return;
        QCoro::Task<> opening = markSessionReadyForAudio();
        co_await std::move(opening);
        if (!self)
            co_return;
        logActivity(QStringLiteral("Session started for ") + logID(id) + QLatin1Char('.'));
        co_return;
    }
    case ServerStreamMessage::Case::sessionStateChanged: {
        const SessionStateChangedPayload payload = *message.sessionStateChangedPayload();
        if (!shouldHandleSessionMessage(payload.sessionID, QStringLiteral("SessionStateChanged")))
            co_return;
        QCoro::Task<> applying = applySessionState(payload);
        co_await std::move(applying);
        co_return;
    }
    case ServerStreamMessage::Case::partialTranscript: {
        const PartialTranscriptPayload& payload = *message.partialTranscriptPayload();
        if (shouldHandleSessionMessage(payload.sessionID, QStringLiteral("PartialTranscript")))
            setPartialTranscript(payload.text);
        co_return;
    }
    case ServerStreamMessage::Case::finalTranscript: {
        const FinalTranscriptPayload& payload = *message.finalTranscriptPayload();
        if (!shouldHandleSessionMessage(payload.sessionID, QStringLiteral("FinalTranscript")))
            co_return;
        setTranscripts(m_state.partialTranscript, payload.finalText, payload.rawText);
        logActivity(QStringLiteral("Received final transcript for %1 (%2 chars)")
                        .arg(logID(payload.sessionID))
                        .arg(characterCount(payload.finalText)));
        co_return;
    }
    case ServerStreamMessage::Case::transcriptCommitted: {
        const TranscriptCommittedPayload& payload = *message.transcriptCommittedPayload();
        // Sign Out cancelled the dictation; its text, arriving while the stream closes, goes nowhere.
        if (m_isSignOutRequested) {
            logActivity(QStringLiteral("Ignored transcript commit for ") + logID(payload.sessionID)
                + QStringLiteral(" after signing out."));
            co_return;
        }
        if (shouldHandleSessionMessage(payload.sessionID, QStringLiteral("TranscriptCommitted")))
            handleTranscriptCommitted(payload);
        co_return;
    }
    case ServerStreamMessage::Case::usageSnapshot: {
        const UsageSnapshotPayload& payload = *message.usageSnapshotPayload();
        if (payload.sessionID && !shouldHandleSessionMessage(*payload.sessionID, QStringLiteral("UsageSnapshot")))
            co_return;
        const QString text = QString::asprintf("Usage this period: %.2f minutes", payload.usedMinutesThisPeriod);
        setUsageSummaryText(text);
        logActivity(text);
        co_return;
    }
    case ServerStreamMessage::Case::sessionError: {
        if (!shouldHandleConnectionMessage(QStringLiteral("SessionError"), connectionSessionID))
            co_return;
        QCoro::Task<> handling = handleSessionError(boundedServerText(message.text().value_or(QString())));
        co_await std::move(handling);
        co_return;
    }
    case ServerStreamMessage::Case::sessionCompleted: {
        const QUuid id = message.sessionID().value_or(QUuid());
        if (shouldHandleSessionMessage(id, QStringLiteral("SessionCompleted")))
            handleSessionCompleted(id);
        co_return;
    }
    case ServerStreamMessage::Case::pong:
        co_return;
    }
}

QCoro::Task<> DictationCoordinator::applySessionState(SessionStateChangedPayload payload)
{
    QPointer<DictationCoordinator> self(this);
    const QUuid id = payload.sessionID;
    // The service's own words, bounded and without keys, before they reach the error line or a log.
    const std::optional<QString> detail
        = payload.detail ? std::optional<QString>(boundedServerText(*payload.detail)) : std::nullopt;
    const std::optional<DictationSessionState> state = payload.decodedState();
    if (state) {
        QCoro::Task<> applying = applyDecodedSessionState(id, *state, detail);
        co_await std::move(applying);
        if (!self)
            co_return;
    }
    QString line = QStringLiteral("Server state for ") + logID(id) + QStringLiteral(": ")
        + (state ? payload.state.Case : boundedServerText(payload.state.Case));
    if (detail && !detail->isEmpty())
        line += QStringLiteral(" (") + *detail + QLatin1Char(')');
    logActivity(line);
}

QCoro::Task<> DictationCoordinator::applyDecodedSessionState(
    QUuid id, DictationSessionState state, std::optional<QString> detail)
{
    switch (state) {
    case DictationSessionState::starting:
        // A stop that has begun keeps finalizing.
        if (!isStopPending())
            setPhase(DictationPhase::starting);
        co_return;
    case DictationSessionState::recording: {
        QCoro::Task<> opening = markSessionReadyForAudio();
        co_await std::move(opening);
        co_return;
    }
    case DictationSessionState::finalizingStt:
    case DictationSessionState::postProcessing:
        applyServiceFinishing(id, state == DictationSessionState::finalizingStt);
        co_return;
    case DictationSessionState::completed:
    case DictationSessionState::canceledByClient:
        applyServiceCompleted(id, false, detail);
        co_return;
    case DictationSessionState::completedEmpty:
        applyServiceCompleted(id, true, detail);
        co_return;
    case DictationSessionState::failed: {
        QCoro::Task<> failing = applySessionFailed(id, detail);
        co_await std::move(failing);
        co_return;
    }
    }
}

void DictationCoordinator::applyServiceFinishing(const QUuid& id, bool finalizing)
{
    setPhase(finalizing ? DictationPhase::finalizing : DictationPhase::postProcessing);
    const QString event = finalizing ? QStringLiteral("began finalizing") : QStringLiteral("began post-processing");
    if (!isStopPending() && !hasCommittedOrInserting()) {
        closeMicrophoneForServiceEnd(id, event);
        // Without our stop, the session's end is awaited as after it.
        replaceSessionTask(
            DictationSession::Timer::completion, id,
            [this](QUuid sessionID, CancelToken token) { return runSessionCompletionWatchdog(sessionID, token); },
            QStringLiteral("sessionCompletionWatchdog"));
    } else if (m_services.recorder.isRunning()) {
        // Our stop in its grace period: the service hears no more.
        closeMicrophoneForServiceEnd(id, event);
    }
}

void DictationCoordinator::applyServiceCompleted(const QUuid& id, bool empty, const std::optional<QString>& detail)
{
    if (m_services.recorder.isRunning())
        closeMicrophoneForServiceEnd(id, QStringLiteral("ended"));
    m_session->markCompleted();
    if (!empty) {
        if (!m_insertion.isRunning)
            setPhase(DictationPhase::ready);
        return;
    }
    if (!failIfMicrophoneLostWithoutText(id)) {
        setLastError(emptyDictationMessage(detail));
        if (!m_insertion.isRunning)
            setPhase(DictationPhase::ready);
    }
    logActivity(
        QStringLiteral("Completed empty dictation for ") + logID(id) + QStringLiteral(". ") + audioStatsSummary());
}

QCoro::Task<> DictationCoordinator::applySessionFailed(QUuid id, std::optional<QString> detail)
{
    // A committed transcript stands; the failure report that follows it changes nothing.
    if (hasCommittedOrInserting())
        co_return;
    QPointer<DictationCoordinator> self(this);
    const QString message = detail ? *detail : QStringLiteral("The dictation session failed.");
    stopCapture();
    QCoro::Task<bool> recovering = fetchDictationRecoveryIfNeeded(id, message, m_session->insertionTarget());
    const bool recovered = co_await std::move(recovering);
    if (!self || currentSessionID() != id || hasCommittedOrInserting())
        co_return;
    if (!recovered) {
        setLastError(message);
        setPhase(DictationPhase::error);
    }
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

void DictationCoordinator::closeMicrophoneForServiceEnd(const QUuid& id, const QString& event)
{
    stopCapture();
    // Our own stop, still in its grace period, goes on with what it captured.
    if (isStopPending())
        return;
    m_session->markStopPending();
    m_start.reset();
    m_session->dropUnsentAudio();
    logActivity(QStringLiteral("Closed the microphone: the service ") + event + QLatin1Char(' ') + logID(id)
        + QStringLiteral(" before it was stopped."));
}

void DictationCoordinator::handleTranscriptCommitted(const TranscriptCommittedPayload& payload)
{
    const QUuid& id = payload.sessionID;
    const QString& text = payload.finalText;
    m_session->cancelTimer(DictationSession::Timer::errorCleanup);
    // One insertion per session: the same text again, a second commit, or one during the insertion.
    if (text == m_session->lastCommittedText() || hasCommittedOrInserting()) {
        logActivity(QStringLiteral("Ignored duplicate transcript commit for %1 (%2 chars)")
                        .arg(logID(id))
                        .arg(characterCount(text)));
        return;
    }
    if (m_services.recorder.isRunning())
        closeMicrophoneForServiceEnd(id, QStringLiteral("committed"));
    m_session->setLastCommittedText(text);
    setTranscripts(m_state.partialTranscript, text, m_state.rawTranscript);
    recordTranscript(id, m_state.rawTranscript, text);
    // A recovery of this session offered the same text for a retry; the commit inserts it now.
    if (m_pendingInsertionRetry && m_pendingInsertionRetry->sessionID == id)
        setPendingInsertionRetry(std::nullopt);
    setPhase(DictationPhase::inserting);
    m_insertion.isRunning = true;
    logActivity(QStringLiteral("Transcript committed for %1 (%2 chars)").arg(logID(id)).arg(characterCount(text)));
    launchMainActorTask([this, payload](CancelToken) { return runCommittedTranscriptInsertion(payload); },
        QStringLiteral("runCommittedTranscriptInsertion"));
}

QCoro::Task<> DictationCoordinator::handleSessionError(QString text)
{
    QPointer<DictationCoordinator> self(this);
    if (hasCommittedOrInserting()) {
        logActivity(QStringLiteral("Ignoring server error after transcript commit: ") + text);
        co_return;
    }
    if (!m_session) {
        setLastError(text);
        setPhase(DictationPhase::error);
        logActivity(QStringLiteral("Server error: ") + text);
        co_return;
    }
    const QUuid id = m_session->id();
    stopCapture();
    QCoro::Task<bool> recovering = fetchDictationRecoveryIfNeeded(id, text, m_session->insertionTarget());
    const bool recovered = co_await std::move(recovering);
    if (!self || currentSessionID() != id || hasCommittedOrInserting())
        co_return;
    if (!recovered) {
        setLastError(text);
        setPhase(DictationPhase::error);
    }
    logActivity(QStringLiteral("Server error: ") + text);
    // The socket stays open a moment, so a commit that follows still goes through.
    replaceSessionTask(
        DictationSession::Timer::errorCleanup, id,
        [this](QUuid sessionID, CancelToken token) { return runSessionErrorCleanup(sessionID, token); },
        QStringLiteral("sessionErrorCleanup"));
}

void DictationCoordinator::handleSessionCompleted(const QUuid& id)
{
    m_session->cancelTimer(DictationSession::Timer::errorCleanup);
    m_session->markCompleted();
    stopCapture();
    m_start.reset();
    logActivity(QStringLiteral("Session completed for ") + logID(id) + QLatin1Char('.'));
    failIfMicrophoneLostWithoutText(id);
    // A newer session may have begun before this runs: it is not this completion's to close.
    launchMainActorTask(
        [this, id](CancelToken) { return finishSessionIfIdle(id); }, QStringLiteral("finishSessionIfIdle"));
}

bool DictationCoordinator::failIfMicrophoneLostWithoutText(const QUuid& id)
{
    if (!m_lostMicrophone || m_lostMicrophone->sessionID != id || hasCommittedOrInserting()
        || m_state.phase == DictationPhase::error)
        return false;
    setLastError(QStringLiteral("The microphone \"%1\" stopped recording before any speech was transcribed. "
                                "Check that it is connected, then try again.")
                     .arg(m_lostMicrophone->name));
    setPhase(DictationPhase::error);
    return true;
}

QString DictationCoordinator::emptyDictationMessage(const std::optional<QString>& detail) const
{
    const DictationAudioStatistics& statistics = m_session->statistics();
    if (statistics.sentByteCount == 0)
        return QStringLiteral("No microphone audio reached Tessvale. Check the selected microphone in Settings, then "
                              "hold the shortcut until the HUD says Listening for speech.");
    if (statistics.sentByteCount <= 15999)
        return QStringLiteral("That dictation ended before enough audio reached Tessvale. Hold the shortcut until the "
                              "HUD says Listening for speech, then release after speaking.");
    if (statistics.levelSampleCount >= 2 && statistics.peakLevel < 0.02)
        return QStringLiteral("Tessvale received very quiet audio. Check the selected microphone and the system's "
                              "input level, then try again.");
    if (detail)
        return *detail;
    return QStringLiteral("No speech detected.");
}

QString DictationCoordinator::audioStatsSummary() const
{
    const DictationAudioStatistics statistics = m_session ? m_session->statistics() : DictationAudioStatistics();
    QString duration = QStringLiteral("unknown");
    if (statistics.recordingStartedAt) {
        const qint64 elapsedMs
            = std::max<qint64>(0, statistics.recordingStartedAt->msecsTo(QDateTime::currentDateTime()));
        duration = QString::asprintf("%.2fs", static_cast<double>(elapsedMs) / 1000.0);
    }
    return QString::asprintf("sentBytes=%lld sentChunks=%lld capturedChunks=%lld peakLevel=%.3f levelSamples=%lld "
                             "duration=",
               static_cast<long long>(statistics.sentByteCount), static_cast<long long>(statistics.sentChunkCount),
               static_cast<long long>(statistics.capturedChunkCount), statistics.peakLevel,
               static_cast<long long>(statistics.levelSampleCount))
        + duration;
}

void DictationCoordinator::recordTranscript(const QUuid& sessionID, const QString& rawText, const QString& finalText)
{
    QList<SessionTranscriptRecord> history = m_state.transcriptHistory;
    history.removeIf([&](const SessionTranscriptRecord& record) { return record.id == sessionID; });
    history.prepend(SessionTranscriptRecord { sessionID, QDateTime::currentDateTime(), rawText, finalText });
    if (history.size() > kTranscriptHistoryLimit)
        history.resize(kTranscriptHistoryLimit);
    setTranscriptHistory(std::move(history));
}

} // namespace tessvale
