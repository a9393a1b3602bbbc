#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "base/TessvaleError.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

const QString kSignOutKeyringMessage = QStringLiteral("Signed out, but the saved sign-in could not be removed from the "
                                                      "keyring. Tessvale may sign in again at the next launch.");

// The service no longer accepts the key: a REST answer of 401, or a streaming connection whose
// opening was refused with 401.
bool isRejectedAPIKey(const std::exception_ptr& error)
{
    return httpStatusCode(error) == 401;
}

} // namespace

void DictationCoordinator::finishSessionBootstrap()
{
    if (!m_state.didFinishSessionBootstrap)
        setDidFinishSessionBootstrap(true);
}

QCoro::Task<> DictationCoordinator::restoreSavedSession(CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    // A sign-in or sign-out while the keyring is read (an unlock prompt may be open) settles the
    // state itself; the restore then only ends the bootstrap.
    const quint64 generation = m_authenticationGeneration;
    QCoro::Task<Captured<std::optional<QString>>> reading
        = captured([&] { return m_services.keychain->read(apiKeyAccount, bound(token)); });
    const Captured<std::optional<QString>> read = co_await std::move(reading);
    if (!self)
        co_return;
    if (m_authenticationGeneration != generation || isCancellationError(read.error)) {
        finishSessionBootstrap();
        co_return;
    }

    if (read.error) {
        // A locked or unreachable keyring is not "no key": say so rather than look signed out.
        const QString description = localizedDescription(read.error);
        setLastError(description);
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
        finishSessionBootstrap();
        reportError(read.error, QStringLiteral("Reading the stored cloud API key"));
        logActivity(QStringLiteral("Failed to read stored API key: ") + description);
        co_return;
    }

    const std::optional<QString>& apiKey = *read.value;
    if (!apiKey || apiKey->isEmpty()) {
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
        finishSessionBootstrap();
        logActivity(QStringLiteral("No stored API key found."));
        co_return;
    }
    m_apiKey = apiKey;
    QCoro::Task<> restoring = restoreAccountState(*apiKey);
    co_await std::move(restoring);
}

QCoro::Task<> DictationCoordinator::restoreAccountState(QString apiKey)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<Captured<void>> refreshing = captured([&] { return refreshAccountState(apiKey); });
    const Captured<void> refreshed = co_await std::move(refreshing);
    if (!self)
        co_return;

    if (!refreshed.error) {
        // A dictation begun meanwhile keeps its phase.
        setSignInPhase(DictationPhase::ready);
        finishSessionBootstrap();
        logActivity(QStringLiteral("Recovered authenticated session from the keyring."));
        co_return;
    }
    // Overtaken by a sign-out or a sign-in: whoever changed the state has published it.
    if (isCancellationError(refreshed.error)) {
        finishSessionBootstrap();
        co_return;
    }
    QCoro::Task<> failing = failRestore(refreshed.error);
    co_await std::move(failing);
}

QCoro::Task<> DictationCoordinator::failRestore(std::exception_ptr error)
{
    QPointer<DictationCoordinator> self(this);
    // A rejected key signs out; a dictation running on it ends first, cancelled on the service.
    if (isRejectedAPIKey(error) && isLivePhase()) {
        QCoro::Task<> cancelling = cancelSessionOnService(QStringLiteral("before signing out"));
        co_await std::move(cancelling);
        if (!self)
            co_return;
    }
    QCoro::Task<bool> clearing = clearRejectedAPIKeyIfNeeded(error, QStringLiteral("Stored API key was rejected"));
    const bool cleared = co_await std::move(clearing);
    if (!self)
        co_return;
    if (cleared) {
        finishSessionBootstrap();
        co_return;
    }

    // The key stays, so the next launch tries again.
    const QString description = localizedDescription(error);
    // A dictation begun meanwhile, or an account its own fetch has since confirmed, is left as it is.
    if (!isDictationActive() && !m_state.isAuthenticated) {
        setLastError(description);
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
    }
    finishSessionBootstrap();
    reportError(error, QStringLiteral("Restoring the authenticated session"));
    logActivity(QStringLiteral("Failed to recover session: ") + description);
}

QCoro::Task<> DictationCoordinator::refreshAccountState(QString apiKey)
{
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUrl> baseURL = m_settings->clientAPIBaseURL();
    if (!baseURL)
        throw CloudClientError::invalidBaseURL();
    const quint64 generation = m_authenticationGeneration;

    // Both requests are under way before either is awaited.
    QCoro::Task<ClientMeResponse> fetchingMe = m_services.cloud.fetchMe(*baseURL, apiKey);
    QCoro::Task<ClientConfigResponse> fetchingConfig = m_services.cloud.fetchClientConfig(*baseURL, apiKey);

    QCoro::Task<Captured<ClientMeResponse>> awaitingMe = captured([&] { return std::move(fetchingMe); });
    Captured<ClientMeResponse> me = co_await std::move(awaitingMe);
    if (!self)
        co_return;
    QCoro::Task<Captured<ClientConfigResponse>> awaitingConfig = captured([&] { return std::move(fetchingConfig); });
    Captured<ClientConfigResponse> config = co_await std::move(awaitingConfig);
    if (!self)
        co_return;
    const std::exception_ptr firstError = me.error ? me.error : config.error;

    if (m_authenticationGeneration != generation) {
        logActivity(QStringLiteral("Ignored an account refresh that finished after the sign-in state changed."));
        throw CancelledError();
    }
    if (firstError)
        std::rethrow_exception(firstError);

    const QString email = boundedServerText(me.value->user.email);
    setMe(std::move(me.value));
    setConfig(std::move(config.value));
    setAuthenticated(true);
    setLastError(QString());
    logActivity(QStringLiteral("Authenticated as ") + email + QLatin1Char('.'));
}

QCoro::Task<> DictationCoordinator::ensureAccountState(QString apiKey)
{
    if (m_state.isAuthenticated && m_state.me && m_state.config)
        co_return;
    QCoro::Task<> refreshing = refreshAccountState(std::move(apiKey));
    co_await std::move(refreshing);
}

QCoro::Task<bool> DictationCoordinator::clearRejectedAPIKeyIfNeeded(
    std::exception_ptr error, QString context, std::optional<QString> messageToShow)
{
    if (!isRejectedAPIKey(error))
        co_return false;
    // One rejection can reach here twice (a failed opening fails the start and ends the stream):
    // the first report clears the key and signs out, the second adds nothing.
    if (m_isClearingRejectedKey)
        co_return true;
    m_isClearingRejectedKey = true;
    QPointer<DictationCoordinator> self(this);

    QCoro::Task<Captured<void>> deleting
        = captured([&] { return m_services.keychain->deleteItem(apiKeyAccount, bound(CancelToken())); });
    const Captured<void> deleted = co_await std::move(deleting);
    if (!self)
        co_return false;
    const std::exception_ptr& deletionError = deleted.error;
    // The service refuses the key anyway; the next launch meets the same 401 and clears it then.
    if (deletionError && !isCancellationError(deletionError))
        logActivity(QStringLiteral("Failed to remove the stored API key: ") + localizedDescription(deletionError));

    QCoro::Task<> resetting = resetAuthenticatedState(std::move(messageToShow));
    co_await std::move(resetting);
    if (!self)
        co_return false;
    m_isClearingRejectedKey = false;
    logActivity(context + QStringLiteral(". Cleared local credentials."));
    co_return true;
}

void DictationCoordinator::signOut()
{
    cancelSignIn();
    logActivity(QStringLiteral("Signing out."));
    // Signed out from this moment, whatever the keyring does: the microphone closes, the key kept
    // in memory is forgotten, and no start reads the keyring again until the next sign-in. A start
    // that has not opened its session yet ends at its next step; one that has is cancelled below.
    m_isSignOutRequested = true;
    ++m_authenticationGeneration;
    m_apiKey.reset();
    stopCapture();
    if (m_start && !m_session)
        endStartBeforeSession();
    launchMainActorTask([this](CancelToken token) { return signOutTask(token); }, QStringLiteral("signOut"));
}

QCoro::Task<> DictationCoordinator::signOutTask(CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    // The running dictation is dropped on the service, so it delivers no transcript later; then the
    // user is shown signed out, before the keyring (which may never answer) is asked to forget the key.
    QCoro::Task<> cancelling = cancelSessionOnService(QStringLiteral("before signing out"));
    co_await std::move(cancelling);
    if (!self)
        co_return;
    QCoro::Task<> resetting = resetAuthenticatedState(std::nullopt);
    co_await std::move(resetting);
    if (!self)
        co_return;
    const quint64 generation = m_authenticationGeneration;

    QCoro::Task<Captured<void>> deleting
        = captured([&] { return m_services.keychain->deleteItem(apiKeyAccount, bound(token)); });
    const Captured<void> deleted = co_await std::move(deleting);
    const std::exception_ptr& deletionError = deleted.error;
    if (!self || !deletionError || isCancellationError(deletionError))
        co_return;
    // A key left in the keyring would sign the user in again at the next launch, so that must not
    // pass for a clean sign-out (unless a sign-in has since replaced it).
    logActivity(QStringLiteral("Failed to remove the stored API key: ") + localizedDescription(deletionError));
    if (m_authenticationGeneration == generation && !m_state.isAuthenticated)
        setLastError(kSignOutKeyringMessage);
}

QCoro::Task<> DictationCoordinator::resetAuthenticatedState(std::optional<QString> errorMessage)
{
    QPointer<DictationCoordinator> self(this);
    // Before the first await, so that a refresh or an insertion finishing during the disconnect is
    // already stale.
    ++m_authenticationGeneration;
    m_apiKey.reset();
    QCoro::Task<> disconnecting = disconnectSessionTransport();
    co_await std::move(disconnecting);
    if (!self)
        co_return;

    setMe(std::nullopt);
    setConfig(std::nullopt);
    setAuthenticated(false);
    cancelSignIn();
    setTranscripts(QString(), QString(), QString());
    setTranscriptHistory({});
    // A session that began during the close commits afresh.
    if (m_session)
        m_session->forgetOutcome();
    setUsageSummaryText(QString());
    setPendingInsertionRetry(std::nullopt);
    setLastError(errorMessage.value_or(QString()));
    setPhase(DictationPhase::signedOut);
}

} // namespace tessvale
