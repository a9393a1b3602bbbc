#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QCoreApplication>
#include <QPointer>

#include "async/Captured.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

std::optional<TextInsertionError::Case> insertionErrorCase(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TextInsertionError& insertionError) {
        return insertionError.errorCase();
    } catch (const TextInsertionServiceError& serviceError) {
        // No driver changed the target; one kept the transcript off an unreadable clipboard.
        if (serviceError.failureCases().contains(TextInsertionError::clipboardUnreadable))
            return TextInsertionError::clipboardUnreadable;
    } catch (...) {
    }
    return std::nullopt;
}

std::optional<QString> accountEmail(const std::optional<ClientMeResponse>& me)
{
    if (!me)
        return std::nullopt;
    return me->user.email;
}

} // namespace

QCoro::Task<> DictationCoordinator::insertTranscriptTask(
    QString text, QUuid sessionID, FocusedInsertionTargetRef target)
{
    QPointer<DictationCoordinator> self(this);
    const bool appendTrailingSpace = m_settings->appendTrailingSpace();
    const bool restoreClipboard = m_settings->restoreClipboard();
    const bool preferDirectTyping = m_settings->preferDirectTyping();
    // A reset to signed out while the text goes in has already settled phase, error and retry.
    const quint64 generation = m_authenticationGeneration;
    const std::optional<QString> emailAtStart = accountEmail(m_state.me);

    // A dictation begun in one of our own windows (the setup window's test button) would paste into
    // that window and count as a first success. It gets no insertion; its text stays the latest
    // transcript.
    if (target && target->application().processIdentifier == QCoreApplication::applicationPid()) {
        QCoro::Task<> keeping = keepTranscriptFromOwnWindow(text, sessionID, generation);
        co_await std::move(keeping);
        co_return;
    }

    // Quitting cancels this insertion alone; one that begins after the quit is cancelled from the start.
    if (!m_isQuitting)
        m_insertion.cancel = CancelSource();
    const CancelToken insertionToken = bound(m_insertion.cancel.token());

    QCoro::Task<Captured<TextInsertionResult>> inserting = captured([&] {
        return m_services.insertTranscript(
            text, appendTrailingSpace, restoreClipboard, preferDirectTyping, target, insertionToken);
    });
    const Captured<TextInsertionResult> inserted = co_await std::move(inserting);
    if (!self)
        co_return;
    const bool overtaken = m_authenticationGeneration != generation;
    endInsertion();

    if (inserted.value)
        settleInsertion(*inserted.value, text, sessionID, emailAtStart, overtaken);
    else
        settleFailedInsertion(inserted.error, text, sessionID, target, overtaken);

    // The reset that overtook the insertion has torn the session down already.
    if (overtaken)
        co_return;
    QCoro::Task<> finishing = finishSessionIfIdle();
    co_await std::move(finishing);
}

QCoro::Task<> DictationCoordinator::keepTranscriptFromOwnWindow(QString text, QUuid sessionID, quint64 generation)
{
    endInsertion();
    if (m_authenticationGeneration == generation) {
        setPendingInsertionRetry(std::nullopt);
        setLastError(QString());
        setPhase(m_state.isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
    }
    logActivity(QStringLiteral("Kept transcript for %1 without inserting it: the dictation began in Tessvale "
                               "itself (%2 chars)")
                    .arg(logID(sessionID))
                    .arg(characterCount(text)));
    if (m_authenticationGeneration != generation)
        co_return;
    QCoro::Task<> finishing = finishSessionIfIdle();
    co_await std::move(finishing);
}

void DictationCoordinator::settleInsertion(const TextInsertionResult& result, const QString& text,
    const QUuid& sessionID, const std::optional<QString>& emailAtStart, bool overtaken)
{
    if (!overtaken) {
        setPendingInsertionRetry(std::nullopt);
        setFocusedAppDiagnostics(result.diagnostics);
        // The text stands, but it ends where the microphone stopped: the user hears why.
        if (m_lostMicrophone && m_lostMicrophone->sessionID == sessionID) {
            const QString message = QStringLiteral("The microphone \"%1\" stopped recording during the dictation, "
                                                   "so the inserted text may be cut short. Check that it is "
                                                   "connected, then try again.")
                                        .arg(m_lostMicrophone->name);
            setLastError(message);
            logActivity(message);
        } else {
            setLastError(QString());
        }
        m_settings->markLaunchReadinessCompleted(accountEmail(m_state.me));
        // The account may have gone while the text went in: no flash of ready then.
        setPhase(m_state.isAuthenticated ? DictationPhase::ready : DictationPhase::signedOut);
    } else {
        setFocusedAppDiagnostics(result.diagnostics);
        // The dictation did succeed for the account it began under.
        if (emailAtStart)
            m_settings->markLaunchReadinessCompleted(emailAtStart);
    }
    logActivity(QStringLiteral("Inserted transcript for %1 via %2 into %3 (%4 chars)")
                    .arg(logID(sessionID), rawValue(result.driver),
                        result.diagnostics ? result.diagnostics->summary() : QStringLiteral("unknown target"))
                    .arg(characterCount(text)));
}

void DictationCoordinator::settleFailedInsertion(std::exception_ptr error, const QString& text, const QUuid& sessionID,
    const FocusedInsertionTargetRef& target, bool overtaken)
{
    setFocusedAppDiagnostics(m_services.currentDiagnostics());
    const std::optional<TextInsertionError::Case> errorCase = insertionErrorCase(error);
    QString message = localizedDescription(error);
    std::optional<PendingInsertionRetry> retry;
    if (errorCase == TextInsertionError::unableToRestoreFocus) {
        retry = PendingInsertionRetry { sessionID, text, target };
        if (target) {
            message = QStringLiteral("Tessvale could not restore focus to ") + target->userFacingLocationSummary()
                + QStringLiteral(". Click back into that field and try again.");
        }
    } else if (errorCase == TextInsertionError::transcriptNotDelivered
        || errorCase == TextInsertionError::clipboardUnreadable || errorCase == TextInsertionError::pasteNotTaken) {
        // Nothing of ours reached the target, so inserting again is safe; a paste nobody was seen to take
        // is not known to have arrived, and is kept for a retry the user decides on, having seen the field.
        retry = PendingInsertionRetry { sessionID, text, target };
    }
    // Any other failure offers no retry; a partial insertion in particular would insert its
    // beginning twice. Its text stays the latest transcript, for copying.
    if (!overtaken) {
        setPendingInsertionRetry(std::move(retry));
        setLastError(message);
        setPhase(DictationPhase::error);
    }
    const QString targetText
        = m_state.focusedAppDiagnostics ? m_state.focusedAppDiagnostics->summary() : QStringLiteral("unknown target");
    reportError(error, QStringLiteral("Inserting dictated text"), Extras { { QStringLiteral("target"), targetText } });
    logActivity(
        QStringLiteral("Failed to insert transcript for %1 into %2: %3").arg(logID(sessionID), targetText, message));
}

void DictationCoordinator::retryFailedInsertion()
{
    if (!m_pendingInsertionRetry)
        return;
    launchMainActorTask(
        [this, retry = *m_pendingInsertionRetry](CancelToken) { return retryFailedInsertionTask(retry); },
        QStringLiteral("retryFailedInsertion"));
}

QCoro::Task<> DictationCoordinator::retryFailedInsertionTask(PendingInsertionRetry retry)
{
    QPointer<DictationCoordinator> self(this);
    if (isDictationActive()) {
        logActivity(QStringLiteral("Ignored retry insert request while phase=%1.").arg(caseName(m_state.phase)));
        co_return;
    }
    // Claimed before the first wait, so a second retry arriving meanwhile is ignored instead of
    // inserting the text again.
    setLastError(QString());
    setPhase(DictationPhase::inserting);
    m_insertion.isRunning = true;
    const quint64 generation = m_authenticationGeneration;

    QCoro::Task<> disconnecting = disconnectSessionTransport();
    co_await std::move(disconnecting);
    if (!self)
        co_return;
    if (m_authenticationGeneration != generation) {
        // Signed out meanwhile: the reset dropped the retry and settled the phase.
        endInsertion();
        co_return;
    }

    logActivity(QStringLiteral("Retrying transcript insertion for %1.").arg(logID(retry.sessionID)));
    QCoro::Task<> inserting = insertTranscriptTask(retry.text, retry.sessionID, retry.target);
    co_await std::move(inserting);
}

void DictationCoordinator::copyLatestTranscript()
{
    const std::optional<QString> text = trimmedTranscriptText(m_state.finalTranscript, m_state.transcriptHistory);
    if (!text)
        return;
    if (m_services.copyText(*text))
        logActivity(QStringLiteral("Copied latest transcript to the clipboard."));
    else
        logActivity(QStringLiteral("Failed to copy latest transcript to the clipboard."));
}

} // namespace tessvale
