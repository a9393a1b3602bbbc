#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

const QString kSignOutKeyringMessage = QStringLiteral("Signed out, but the saved sign-in could not be removed from the "
                                                      "keyring. Tessvale may sign in again at the next launch.");

// The service no longer accepts the key: a REST answer of 401, or a streaming connection whose
// opening was refused with 401.
bool isRejectedAPIKey(std::exception_ptr error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CloudClientError& cloudError) {
        return cloudError.errorCase() == CloudClientError::Case::requestFailed && cloudError.statusCode() == 401;
    } catch (const CloudTransportError& transportError) {
        return transportError.code() == CloudTransportError::Code::refused && transportError.httpStatusCode() == 401;
    } catch (...) {
        return false;
    }
}

} // namespace

QCoro::Task<> DictationCoordinator::restoreSavedSession(CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    // A sign-in or sign-out while the keyring is read (an unlock prompt may be open) settles the
    // state itself; the restore then only ends the bootstrap.
    const quint64 generation = m_authenticationGeneration;
    const auto finishBootstrap = [this] {
        if (!m_didFinishSessionBootstrap)
            setDidFinishSessionBootstrap(true);
    };

    std::optional<QString> apiKey;
    std::exception_ptr readError;
    try {
        QCoro::Task<std::optional<QString>> reading = m_services.keychain->read(apiKeyAccount, bound(token));
        apiKey = co_await std::move(reading);
    } catch (...) {
        readError = std::current_exception();
    }
    if (!self)
        co_return;
    if (m_authenticationGeneration != generation || isCancellationError(readError)) {
        finishBootstrap();
        co_return;
    }

    if (readError) {
        // A locked or unreachable keyring is not "no key": say so rather than look signed out.
        const QString description = localizedDescription(readError);
        setLastError(description);
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
        finishBootstrap();
        reportError(readError, QStringLiteral("Reading the stored cloud API key"));
        logActivity(QStringLiteral("Failed to read stored API key: ") + description);
        co_return;
    }

    if (!apiKey || apiKey->isEmpty()) {
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
        finishBootstrap();
        logActivity(QStringLiteral("No stored API key found."));
        co_return;
    }
    m_apiKey = apiKey;

    std::exception_ptr refreshError;
    try {
        QCoro::Task<> refreshing = refreshAccountState(*apiKey);
        co_await std::move(refreshing);
    } catch (...) {
        refreshError = std::current_exception();
    }
    if (!self)
        co_return;

    if (!refreshError) {
        // A dictation begun meanwhile keeps its phase.
        setSignInPhase(DictationPhase::ready);
        finishBootstrap();
        logActivity(QStringLiteral("Recovered authenticated session from the keyring."));
        co_return;
    }
    // Overtaken by a sign-out or a sign-in: whoever changed the state has published it.
    if (isCancellationError(refreshError)) {
        finishBootstrap();
        co_return;
    }

    // A rejected key signs out; a dictation running on it ends first, cancelled on the service.
    if (isRejectedAPIKey(refreshError) && isLivePhase()) {
        QCoro::Task<> cancelling = cancelSessionOnService(QStringLiteral("before signing out"));
        co_await std::move(cancelling);
        if (!self)
            co_return;
    }
    QCoro::Task<bool> clearing
        = clearRejectedAPIKeyIfNeeded(refreshError, QStringLiteral("Stored API key was rejected"));
    const bool cleared = co_await std::move(clearing);
    if (!self)
        co_return;
    if (cleared) {
        finishBootstrap();
        co_return;
    }

    // The key stays, so the next launch tries again.
    const QString description = localizedDescription(refreshError);
    // A dictation begun meanwhile, or an account its own fetch has since confirmed, is left as it is.
    if (!isDictationActive() && !m_isAuthenticated) {
        setLastError(description);
        setPhase(DictationPhase::signedOut);
        setAuthenticated(false);
    }
    finishBootstrap();
    reportError(refreshError, QStringLiteral("Restoring the authenticated session"));
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

    std::optional<ClientMeResponse> me;
    std::optional<ClientConfigResponse> config;
    std::exception_ptr firstError;
    try {
        me = co_await std::move(fetchingMe);
    } catch (...) {
        firstError = std::current_exception();
    }
    if (!self)
        co_return;
    try {
        config = co_await std::move(fetchingConfig);
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
    if (!self)
        co_return;

    if (m_authenticationGeneration != generation) {
        logActivity(QStringLiteral("Ignored an account refresh that finished after the sign-in state changed."));
        throw CancelledError();
    }
    if (firstError)
        std::rethrow_exception(firstError);

    const QString email = boundedServerText(me->user.email);
    setMe(std::move(me));
    setConfig(std::move(config));
    setAuthenticated(true);
    setLastError(QString());
    logActivity(QStringLiteral("Authenticated as ") + email + QLatin1Char('.'));
}

QCoro::Task<> DictationCoordinator::ensureAccountState(QString apiKey)
{
    if (m_isAuthenticated && m_me && m_config)
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

    std::exception_ptr deletionError;
    try {
        QCoro::Task<> deleting = m_services.keychain->deleteItem(apiKeyAccount, bound(CancelToken()));
        co_await std::move(deleting);
    } catch (...) {
        deletionError = std::current_exception();
    }
    if (!self)
        co_return false;
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

    std::exception_ptr deletionError;
    try {
        QCoro::Task<> deleting = m_services.keychain->deleteItem(apiKeyAccount, bound(token));
        co_await std::move(deleting);
    } catch (...) {
        deletionError = std::current_exception();
    }
    if (!self || !deletionError || isCancellationError(deletionError))
        co_return;
    // A key left in the keyring would sign the user in again at the next launch, so that must not
    // pass for a clean sign-out (unless a sign-in has since replaced it).
    logActivity(QStringLiteral("Failed to remove the stored API key: ") + localizedDescription(deletionError));
    if (m_authenticationGeneration == generation && !m_isAuthenticated)
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
