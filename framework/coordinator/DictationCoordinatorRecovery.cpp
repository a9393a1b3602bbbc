#include "coordinator/DictationCoordinator.h"

#include <algorithm>
#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

std::optional<QString> trimmed(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    return text->trimmed();
}

} // namespace

QCoro::Task<bool> DictationCoordinator::fetchDictationRecoveryIfNeeded(
    QUuid sessionID, QString message, FocusedInsertionTargetRef target)
{
    const auto hasRow = [this, &sessionID] {
        return std::any_of(m_state.transcriptHistory.cbegin(), m_state.transcriptHistory.cend(),
            [&](const SessionTranscriptRecord& record) { return record.id == sessionID; });
    };
    // Only the current session fails: every caller has just checked it.
    if (m_session->hasAttemptedRecovery()) {
        // A second failure of the session while its fetch is out (an error, then the failed state)
        // takes that fetch's answer instead of deciding there was nothing to recover.
        if (std::optional<OneShot<bool>> answer = m_session->awaitRecoveryAnswer()) {
            // Failed with CancelledError when the coordinator goes; the caller must not go on.
            const bool recovered = co_await *answer;
            co_return recovered;
        }
        co_return hasRow();
    }
    const std::shared_ptr<DictationSession::RecoveryFetch> attempt = m_session->beginRecovery();
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> fetching = fetchDictationRecovery(sessionID, std::move(message), std::move(target));
    const bool recovered = co_await std::move(fetching);
    if (!self)
        co_return false;
    attempt->answer(recovered);
    co_return recovered;
}

QCoro::Task<bool> DictationCoordinator::fetchDictationRecovery(
    QUuid sessionID, QString message, FocusedInsertionTargetRef target)
{
    QPointer<DictationCoordinator> self(this);

    const std::optional<QUrl> baseURL = m_settings->clientAPIBaseURL();
    if (!baseURL)
        co_return false;

    QCoro::Task<Captured<QString>> reading = captured([this] { return requireStoredAPIKey(); });
    const Captured<QString> key = co_await std::move(reading);
    if (!self)
        co_return false;
    if (key.error) {
        logActivity(QStringLiteral("Skipped dictation recovery fetch for ") + logID(sessionID) + QStringLiteral(": ")
            + localizedDescription(key.error));
        co_return false;
    }

    QCoro::Task<Captured<DictationSessionRecoveryResponse>> fetching
        = captured([&] { return m_services.cloud.fetchDictationRecovery(*baseURL, *key.value, sessionID); });
    const Captured<DictationSessionRecoveryResponse> response = co_await std::move(fetching);
    if (!self)
        co_return false;
    if (response.error) {
        logActivity(QStringLiteral("Failed to fetch dictation recovery for ") + logID(sessionID) + QStringLiteral(": ")
            + localizedDescription(response.error));
        co_return false;
    }
    // The session ended another way meanwhile (signed out, committed): nothing of it is replaced.
    if (currentSessionID() != sessionID)
        co_return false;
    if (hasCommittedOrInserting())
        co_return true;
    if (!response.value->hasRecoverableText)
        co_return false;
    co_return applyDictationRecovery(
        sessionID, response.value->rawText, response.value->finalText, message, std::move(target));
}

bool DictationCoordinator::applyDictationRecovery(const QUuid& sessionID, std::optional<QString> rawText,
    std::optional<QString> finalText, const QString& message, FocusedInsertionTargetRef target)
{
    const std::optional<QString> raw = trimmed(rawText);
    const std::optional<QString> final = trimmed(finalText);
    QString recovered;
    QString historyRaw;
    if (final && !final->isEmpty()) {
        recovered = *final;
        historyRaw = raw ? *raw : *final;
    } else if (raw) {
        recovered = *raw;
        historyRaw = *raw;
    }
    // Blank texts recover nothing: no message, no retry of empty text.
    if (recovered.isEmpty())
        return false;

    setTranscripts(m_state.partialTranscript, recovered, historyRaw);
    recordTranscript(sessionID, m_state.rawTranscript, m_state.finalTranscript);
    setPendingInsertionRetry(PendingInsertionRetry { sessionID, m_state.finalTranscript, std::move(target) });
    setLastError(message + QStringLiteral(" Recovered the latest transcript so you can copy or retry it."));
    setPhase(DictationPhase::error);
    logActivity(QStringLiteral("Recovered transcript for session %1 (%2 chars).")
                    .arg(logID(sessionID))
                    .arg(characterCount(m_state.finalTranscript)));
    return true;
}

} // namespace tessvale
