#include "coordinator/BrowserSignIn.h"

#include <utility>

#include <QPointer>
#include <QUrlQuery>

#include "async/Captured.h"
#include "async/Spawn.h"
#include "auth/NativeAuthChallenge.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CallbackURL.h"
#include "coordinator/CoordinatorHelpers.h"
#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"

namespace tessvale {

BrowserSignIn::BrowserSignIn(
    AppSettings& settings, const CoordinatorServices& services, BrowserSignInReports reports, QObject* parent)
    : QObject(parent)
    , m_settings(&settings)
    , m_services(&services)
    , m_reports(std::move(reports))
{
}

BrowserSignIn::~BrowserSignIn()
{
    m_lifetime.cancel();
}

bool BrowserSignIn::isOpen(const QUuid& attemptID) const
{
    return m_pending && m_pending->attemptID == attemptID;
}

QCoro::Task<> BrowserSignIn::begin(CancelToken token)
{
    QPointer<BrowserSignIn> self(this);
    // First, so a refused second start leaves the error line as it is.
    if (m_isStarting) {
        m_reports.log(QStringLiteral("Ignored browser sign-in start because an attempt is already starting."));
        co_return;
    }
    m_reports.showError(QString());
    const std::optional<NativeAuthEndpointConfig> endpoint = m_settings->nativeAuthEndpointConfig();
    if (!endpoint) {
        m_reports.showError(CloudClientError::invalidBaseURL().localizedDescription());
        m_reports.requestPhase(DictationPhase::error);
        co_return;
    }
    if (m_pending) {
        reopen(token);
        co_return;
    }

    m_isStarting = true;
    const QString redirectURI = nativeAuthRedirectURI().toString();
    const NativeAuthChallenge challenge;
    const QString deviceName = m_settings->deviceName();
    QCoro::Task<Captured<NativeAuthStartResponse>> starting = captured([&] {
        return m_services->cloud.startNativeAuth(endpoint->apiBaseURL, deviceName, DictationCoordinator::appVersion(),
            challenge.codeChallenge(), redirectURI, challenge.state());
    });
    Captured<NativeAuthStartResponse> started = co_await std::move(starting);
    if (!self)
        co_return;
    m_isStarting = false;

    if (started.error) {
        cancel();
        const QString description = localizedDescription(started.error);
        m_reports.showError(description);
        m_reports.requestPhase(DictationPhase::error);
        m_reports.reportError(started.error, QStringLiteral("Starting browser sign-in"));
        m_reports.log(QStringLiteral("Browser sign-in failed to start: ") + description);
        co_return;
    }

    const NativeAuthStartResponse& response = *started.value;
    m_pending = PendingAttempt { response.attemptID, endpoint->apiBaseURL, challenge.state(), challenge.codeVerifier(),
        redirectURI, response.authorizationURL };
    m_reports.attemptChanged(BrowserSignInState(response.attemptID, response.authorizationURL, false));
    m_reports.requestPhase(DictationPhase::signedOut);
    m_reports.log(QStringLiteral("Opened browser sign-in for ") + deviceName + QLatin1Char('.'));
    QCoro::Task<> opening = openPage(response.attemptID, response.authorizationURL, token);
    co_await std::move(opening);
}

QCoro::Task<> BrowserSignIn::openPage(QUuid attemptID, QUrl url, CancelToken token)
{
    QPointer<BrowserSignIn> self(this);
    static const QString failurePrefix = QStringLiteral("The web browser could not be opened");
    QCoro::Task<PlatformResult> opening = m_services->urlOpener(url, bound(token));
    const PlatformResult result = co_await std::move(opening);
    if (!self)
        co_return;
    // Answered for an attempt that has since ended.
    if (!isOpen(attemptID))
        co_return;
    if (result) {
        // A reopened page clears its own earlier failure.
        if (m_reports.lastError().startsWith(failurePrefix)) {
            m_reports.showError(QString());
            m_reports.requestPhase(DictationPhase::signedOut);
        }
        co_return;
    }
    // The setup window shows the address under the error, where it can be copied whole.
    m_reports.showError(failurePrefix + QStringLiteral(" (") + result.reason()
        + QStringLiteral("). To sign in, copy the sign-in address from the setup window into a web browser."));
    m_reports.requestPhase(DictationPhase::error);
    m_reports.log(QStringLiteral("Could not open the browser for sign-in: ") + result.reason());
}

void BrowserSignIn::cancel()
{
    const std::optional<PendingAttempt> attempt = m_pending;
    clear();
    if (attempt) {
        cancelOnServer(*attempt, QStringLiteral("Canceled browser sign-in."),
            QStringLiteral("Failed to cancel browser sign-in on the server: "));
    }
}

void BrowserSignIn::reopen(CancelToken token)
{
    if (!m_pending)
        return;
    runDetached([this, attemptID = m_pending->attemptID, url = m_pending->authorizationURL](
                    CancelToken opening) { return openPage(attemptID, url, opening); },
        bound(token), QStringLiteral("reopenBrowserSignIn"));
    m_reports.log(QStringLiteral("Reopened browser sign-in."));
}

void BrowserSignIn::clear()
{
    m_pending.reset();
    m_reports.attemptChanged(std::nullopt);
}

void BrowserSignIn::failInvalidCallback(const QString& errorMessage, const QString& logMessage)
{
    const std::optional<PendingAttempt> attempt = m_pending;
    clear();
    m_reports.showError(errorMessage);
    m_reports.requestPhase(DictationPhase::signedOut);
    m_reports.log(logMessage);
    if (attempt) {
        cancelOnServer(*attempt, QStringLiteral("Canceled invalid browser sign-in attempt."),
            QStringLiteral("Failed to cancel invalid browser sign-in on the server: "));
    }
}

void BrowserSignIn::cancelOnServer(const PendingAttempt& attempt, const QString& successLog, const QString& failureLog)
{
    spawnOnMain(
        this,
        [this, baseURL = attempt.apiBaseURL, attemptID = attempt.attemptID, successLog, failureLog](
            CancelToken) { return cancelOnServerTask(baseURL, attemptID, successLog, failureLog); },
        QStringLiteral("cancelNativeAuth"));
}

QCoro::Task<> BrowserSignIn::cancelOnServerTask(QUrl baseURL, QUuid attemptID, QString successLog, QString failureLog)
{
    QPointer<BrowserSignIn> self(this);
    QCoro::Task<Captured<void>> cancelling
        = captured([&] { return m_services->cloud.cancelNativeAuth(std::move(baseURL), attemptID); });
    const Captured<void> cancelled = co_await std::move(cancelling);
    const std::exception_ptr& error = cancelled.error;
    if (!self)
        co_return;
    // Only logged: the attempt is gone locally whatever the server says.
    if (error)
        m_reports.log(failureLog + localizedDescription(error));
    else
        m_reports.log(successLog);
}

QCoro::Task<std::optional<NativeAuthTokenResponse>> BrowserSignIn::handleCallback(QUrl url, CancelToken token)
{
    // Any URL may arrive here; without an open attempt none of them is ours to act on.
    if (!m_pending)
        co_return std::nullopt;
    const PendingAttempt attempt = *m_pending;
    if (!callbackURLMatches(url, attempt.redirectURI)) {
        m_reports.log(QStringLiteral("Ignored native auth callback that did not match the active redirect URI."));
        co_return std::nullopt;
    }
    // The code is single-use: a repeated callback while it is exchanged must not spend it twice, nor
    // fail the attempt that is about to succeed.
    if (m_exchangingAttemptID == attempt.attemptID) {
        m_reports.log(QStringLiteral("Ignored native auth callback for a sign-in that is already completing."));
        co_return std::nullopt;
    }

    const QUrlQuery query = url.isValid() ? QUrlQuery(url) : QUrlQuery();
    const std::optional<QString> code = firstQueryValue(query, QStringLiteral("code"));
    const std::optional<QString> state = firstQueryValue(query, QStringLiteral("state"));
    if (!code || !state) {
        failInvalidCallback(QStringLiteral("Browser sign-in did not return the expected authorization "
                                           "details. Try signing in again."),
            QStringLiteral("Browser sign-in callback was missing the code or state."));
        co_return std::nullopt;
    }
    if (*state != attempt.state) {
        failInvalidCallback(QStringLiteral("Browser sign-in response did not match the active sign-in "
                                           "attempt. Try signing in again."),
            QStringLiteral("Ignored native auth callback with mismatched state."));
        co_return std::nullopt;
    }
    QCoro::Task<std::optional<NativeAuthTokenResponse>> exchanging = exchange(attempt, *code, token);
    std::optional<NativeAuthTokenResponse> response = co_await std::move(exchanging);
    co_return response;
}

QCoro::Task<std::optional<NativeAuthTokenResponse>> BrowserSignIn::exchange(
    PendingAttempt attempt, QString code, CancelToken token)
{
    QPointer<BrowserSignIn> self(this);
    const auto endExchange = [this, &attempt] {
        if (m_exchangingAttemptID == attempt.attemptID)
            m_exchangingAttemptID.reset();
    };
    const QString closedLog = QStringLiteral("Ignored a browser sign-in that finished after its attempt was closed.");

    m_exchangingAttemptID = attempt.attemptID;
    QCoro::Task<Captured<NativeAuthTokenResponse>> exchanging = captured([&] {
        return m_services->cloud.exchangeNativeAuthToken(
            attempt.apiBaseURL, attempt.attemptID, code, attempt.codeVerifier, attempt.redirectURI);
    });
    Captured<NativeAuthTokenResponse> exchanged = co_await std::move(exchanging);
    if (!self)
        co_return std::nullopt;
    // Cancelled or signed out meanwhile: the user no longer wants this key.
    if (!isOpen(attempt.attemptID)) {
        endExchange();
        m_reports.log(closedLog);
        co_return std::nullopt;
    }

    if (!exchanged.error) {
        QCoro::Task<Captured<void>> saving = captured([&] {
            return m_services->keychain->save(
                exchanged.value->apiKey, DictationCoordinator::apiKeyAccount, bound(token));
        });
        const Captured<void> saved = co_await std::move(saving);
        exchanged.error = saved.error;
        if (!self)
            co_return std::nullopt;
        if (!isOpen(attempt.attemptID)) {
            endExchange();
            m_reports.log(closedLog);
            // A sign-out may already have deleted the old key.
            if (!exchanged.error && !m_reports.isAuthenticated()) {
                QCoro::Task<> removing = removeAbandonedKey(token);
                co_await std::move(removing);
            }
            co_return std::nullopt;
        }
    }
    endExchange();

    if (exchanged.error) {
        failExchange(exchanged.error);
        co_return std::nullopt;
    }
    co_return std::move(exchanged.value);
}

QCoro::Task<> BrowserSignIn::removeAbandonedKey(CancelToken token)
{
    QPointer<BrowserSignIn> self(this);
    QCoro::Task<Captured<void>> deleting
        = captured([&] { return m_services->keychain->deleteItem(DictationCoordinator::apiKeyAccount, bound(token)); });
    const Captured<void> deleted = co_await std::move(deleting);
    const std::exception_ptr& error = deleted.error;
    if (!self)
        co_return;
    if (error && !isCancellationError(error))
        m_reports.log(QStringLiteral("Failed to remove the stored API key: ") + localizedDescription(error));
}

void BrowserSignIn::failExchange(std::exception_ptr error)
{
    // Not cancelled on the server: the service closed the attempt with the exchange.
    clear();
    const QString description = localizedDescription(error);
    m_reports.showError(description);
    m_reports.requestPhase(DictationPhase::error);
    m_reports.reportError(error, QStringLiteral("Completing browser sign-in"));
    m_reports.log(QStringLiteral("Browser sign-in failed: ") + description);
}

} // namespace tessvale
