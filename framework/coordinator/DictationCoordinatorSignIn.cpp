#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>
#include <QUrlQuery>

#include "async/Spawn.h"
#include "auth/NativeAuthChallenge.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

void DictationCoordinator::setSignInPhase(DictationPhase phase)
{
    // A running dictation keeps its phase, and a signed-in user is never shown as signed out. A start
    // still in its first checks shows no phase of its own yet.
    if (isDictationPhase(m_phase) || m_insertion.isRunning)
        return;
    if (phase == DictationPhase::signedOut && m_isAuthenticated)
        return;
    setPhase(phase);
}

void DictationCoordinator::beginSignIn()
{
    launchMainActorTask([this](CancelToken token) { return beginSignInTask(token); }, QStringLiteral("beginSignIn"));
}

QCoro::Task<> DictationCoordinator::beginSignInTask(CancelToken token)
{
    Q_UNUSED(token);
    QPointer<DictationCoordinator> self(this);
    // First, so a refused second start leaves the error line as it is.
    if (m_isStartingBrowserSignIn) {
        logActivity(QStringLiteral("Ignored browser sign-in start because an attempt is already starting."));
        co_return;
    }
    setLastError(QString());
    const std::optional<NativeAuthEndpointConfig> endpoint = m_settings->nativeAuthEndpointConfig();
    if (!endpoint) {
        setLastError(CloudClientError::invalidBaseURL().errorDescription());
        setSignInPhase(DictationPhase::error);
        co_return;
    }
    if (m_browserSignIn) {
        reopenBrowserSignIn();
        co_return;
    }

    m_isStartingBrowserSignIn = true;
    const QString redirectURI = nativeAuthRedirectURI().toString();
    const NativeAuthChallenge challenge;
    const QString deviceName = m_settings->deviceName();

    std::optional<NativeAuthStartResponse> response;
    std::exception_ptr error;
    try {
        QCoro::Task<NativeAuthStartResponse> starting = m_services.cloud.startNativeAuth(
            endpoint->apiBaseURL, deviceName, appVersion(), challenge.codeChallenge(), redirectURI, challenge.state());
        response = co_await std::move(starting);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    m_isStartingBrowserSignIn = false;

    if (error) {
        cancelSignIn();
        const QString description = localizedDescription(error);
        setLastError(description);
        setSignInPhase(DictationPhase::error);
        reportError(error, QStringLiteral("Starting browser sign-in"));
        logActivity(QStringLiteral("Browser sign-in failed to start: ") + description);
        co_return;
    }

    m_pendingBrowserAuth = PendingBrowserAuth { response->attemptID, endpoint->apiBaseURL, challenge.state(),
        challenge.codeVerifier(), redirectURI };
    setBrowserSignIn(BrowserSignInState(response->attemptID, response->authorizationURL, false));
    setSignInPhase(DictationPhase::signedOut);
    logActivity(QStringLiteral("Opened browser sign-in for ") + deviceName + QLatin1Char('.'));
    QCoro::Task<> opening = openSignInPage(response->attemptID, response->authorizationURL, token);
    co_await std::move(opening);
}

QCoro::Task<> DictationCoordinator::openSignInPage(QUuid attemptID, QUrl url, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    static const QString failurePrefix = QStringLiteral("The web browser could not be opened");
    QCoro::Task<UrlOpenResult> opening = m_services.urlOpener(url, bound(token));
    const UrlOpenResult result = co_await std::move(opening);
    if (!self)
        co_return;
    // Answered for an attempt that has since ended.
    if (!m_browserSignIn || m_browserSignIn->attemptID() != attemptID)
        co_return;
    if (result.opened) {
        // A reopened page clears its own earlier failure.
        if (m_lastError.startsWith(failurePrefix)) {
            setLastError(QString());
            setSignInPhase(DictationPhase::signedOut);
        }
        co_return;
    }
    // The setup window shows the address under the error, where it can be copied whole.
    setLastError(failurePrefix + QStringLiteral(" (") + result.failure
        + QStringLiteral("). To sign in, copy the sign-in address from the setup window into a web browser."));
    setSignInPhase(DictationPhase::error);
    logActivity(QStringLiteral("Could not open the browser for sign-in: ") + result.failure);
}

void DictationCoordinator::cancelSignIn()
{
    const std::optional<PendingBrowserAuth> attempt = m_pendingBrowserAuth;
    clearPendingBrowserAuth();
    if (attempt) {
        cancelAttemptOnServer(*attempt, QStringLiteral("Canceled browser sign-in."),
            QStringLiteral("Failed to cancel browser sign-in on the server: "));
    }
}

void DictationCoordinator::reopenBrowserSignIn()
{
    if (!m_browserSignIn)
        return;
    runDetached([this, attemptID = m_browserSignIn->attemptID(), url = m_browserSignIn->authorizationURL()](
                    CancelToken token) { return openSignInPage(attemptID, url, token); },
        m_lifetime.token(), QStringLiteral("reopenBrowserSignIn"));
    logActivity(QStringLiteral("Reopened browser sign-in."));
}

void DictationCoordinator::clearPendingBrowserAuth()
{
    m_pendingBrowserAuth.reset();
    setBrowserSignIn(std::nullopt);
}

void DictationCoordinator::cancelInvalidBrowserSignIn(const QString& errorMessage, const QString& logMessage)
{
    const std::optional<PendingBrowserAuth> attempt = m_pendingBrowserAuth;
    clearPendingBrowserAuth();
    setLastError(errorMessage);
    setSignInPhase(DictationPhase::signedOut);
    logActivity(logMessage);
    if (attempt) {
        cancelAttemptOnServer(*attempt, QStringLiteral("Canceled invalid browser sign-in attempt."),
            QStringLiteral("Failed to cancel invalid browser sign-in on the server: "));
    }
}

void DictationCoordinator::cancelAttemptOnServer(
    const PendingBrowserAuth& attempt, const QString& successLog, const QString& failureLog)
{
    launchMainActorTask(
        [this, baseURL = attempt.apiBaseURL, attemptID = attempt.attemptID, successLog, failureLog](
            CancelToken) { return cancelAttemptOnServerTask(baseURL, attemptID, successLog, failureLog); },
        QStringLiteral("cancelNativeAuth"));
}

QCoro::Task<> DictationCoordinator::cancelAttemptOnServerTask(
    QUrl baseURL, QUuid attemptID, QString successLog, QString failureLog)
{
    QPointer<DictationCoordinator> self(this);
    std::exception_ptr error;
    try {
        QCoro::Task<> cancelling = m_services.cloud.cancelNativeAuth(std::move(baseURL), attemptID);
        co_await std::move(cancelling);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    // Only logged: the attempt is gone locally whatever the server says.
    if (error)
        logActivity(failureLog + localizedDescription(error));
    else
        logActivity(successLog);
}

void DictationCoordinator::handleExternalAuthCallback(const QUrl& url)
{
    launchMainActorTask([this, url](CancelToken token) { return handleExternalAuthCallbackTask(url, token); },
        QStringLiteral("handleExternalAuthCallback"));
}

QCoro::Task<> DictationCoordinator::handleExternalAuthCallbackTask(QUrl url, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    // Any URL may arrive here; without an open attempt none of them is ours to act on.
    if (!m_pendingBrowserAuth)
        co_return;
    const PendingBrowserAuth attempt = *m_pendingBrowserAuth;
    if (!callbackURLMatches(url, attempt.redirectURI)) {
        logActivity(QStringLiteral("Ignored native auth callback that did not match the active redirect URI."));
        co_return;
    }
    // The code is single-use: a repeated callback while it is exchanged must not spend it twice, nor
    // fail the attempt that is about to succeed.
    if (m_exchangingAttemptID == attempt.attemptID) {
        logActivity(QStringLiteral("Ignored native auth callback for a sign-in that is already completing."));
        co_return;
    }

    const QUrlQuery query = url.isValid() ? QUrlQuery(url) : QUrlQuery();
    const std::optional<QString> code = firstQueryValue(query, QStringLiteral("code"));
    const std::optional<QString> state = firstQueryValue(query, QStringLiteral("state"));
    if (!code || !state) {
        cancelInvalidBrowserSignIn(QStringLiteral("Browser sign-in did not return the expected authorization "
                                                  "details. Try signing in again."),
            QStringLiteral("Browser sign-in callback was missing the code or state."));
        co_return;
    }
    if (*state != attempt.state) {
        cancelInvalidBrowserSignIn(QStringLiteral("Browser sign-in response did not match the active sign-in "
                                                  "attempt. Try signing in again."),
            QStringLiteral("Ignored native auth callback with mismatched state."));
        co_return;
    }

    const auto isStillOpen
        = [this, &attempt] { return m_pendingBrowserAuth && m_pendingBrowserAuth->attemptID == attempt.attemptID; };
    const auto endExchange = [this, &attempt] {
        if (m_exchangingAttemptID == attempt.attemptID)
            m_exchangingAttemptID.reset();
    };
    const QString closedLog = QStringLiteral("Ignored a browser sign-in that finished after its attempt was closed.");

    m_exchangingAttemptID = attempt.attemptID;
    std::optional<NativeAuthTokenResponse> response;
    std::exception_ptr error;
    try {
        QCoro::Task<NativeAuthTokenResponse> exchanging = m_services.cloud.exchangeNativeAuthToken(
            attempt.apiBaseURL, attempt.attemptID, *code, attempt.codeVerifier, attempt.redirectURI);
        response = co_await std::move(exchanging);
    } catch (...) {
        error = std::current_exception();
    }
    if (!self)
        co_return;
    // Cancelled or signed out meanwhile: the user no longer wants this key.
    if (!isStillOpen()) {
        endExchange();
        logActivity(closedLog);
        co_return;
    }

    if (!error) {
        try {
            QCoro::Task<> saving = m_services.keychain->save(response->apiKey, apiKeyAccount, bound(token));
            co_await std::move(saving);
        } catch (...) {
            error = std::current_exception();
        }
        if (!self)
            co_return;
        if (!isStillOpen()) {
            endExchange();
            logActivity(closedLog);
            // The key went in after the user gave up on it (a sign-out may already have deleted the
            // old one); take it out again unless another sign-in has since completed.
            if (!error && !m_isAuthenticated) {
                try {
                    QCoro::Task<> deleting = m_services.keychain->deleteItem(apiKeyAccount, bound(token));
                    co_await std::move(deleting);
                } catch (...) {
                    error = std::current_exception();
                }
                if (!self)
                    co_return;
                if (error && !isCancellationError(error))
                    logActivity(QStringLiteral("Failed to remove the stored API key: ") + localizedDescription(error));
            }
            co_return;
        }
    }
    endExchange();

    if (error) {
        // Not cancelled on the server: the service closed the attempt with the exchange.
        clearPendingBrowserAuth();
        const QString description = localizedDescription(error);
        setLastError(description);
        setSignInPhase(DictationPhase::error);
        reportError(error, QStringLiteral("Completing browser sign-in"));
        logActivity(QStringLiteral("Browser sign-in failed: ") + description);
        co_return;
    }

    // A restore still waiting on an older key must not undo this sign-in.
    ++m_authenticationGeneration;
    m_isSignOutRequested = false;
    m_apiKey = response->apiKey;
    const QString email = boundedServerText(response->me.user.email);
    setMe(std::move(response->me));
    setConfig(std::move(response->config));
    setAuthenticated(true);
    clearPendingBrowserAuth();
    setLastError(QString());
    setSignInPhase(DictationPhase::ready);
    logActivity(QStringLiteral("Browser sign-in completed for ") + email + QLatin1Char('.'));
    QCoro::Task<> checking = refreshAppUpdateState();
    co_await std::move(checking);
}

} // namespace tessvale
