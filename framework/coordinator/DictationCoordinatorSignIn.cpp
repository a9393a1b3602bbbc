#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "coordinator/BrowserSignIn.h"
#include "coordinator/CoordinatorHelpers.h"

namespace tessvale {

void DictationCoordinator::setSignInPhase(DictationPhase phase)
{
    // A running dictation keeps its phase, and a signed-in user is never shown as signed out. A start
    // still in its first checks shows no phase of its own yet.
    if (isDictationPhase(m_state.phase) || m_insertion.isRunning)
        return;
    if (phase == DictationPhase::signedOut && m_state.isAuthenticated)
        return;
    setPhase(phase);
}

BrowserSignInReports DictationCoordinator::browserSignInReports()
{
    BrowserSignInReports reports;
    reports.attemptChanged
        = [this](std::optional<BrowserSignInState> attempt) { setBrowserSignIn(std::move(attempt)); };
    reports.showError = [this](const QString& text) { setLastError(text); };
    reports.requestPhase = [this](DictationPhase phase) { setSignInPhase(phase); };
    reports.log = [this](const QString& message) { logActivity(message); };
    reports.reportError
        = [this](std::exception_ptr error, const QString& context) { reportError(std::move(error), context); };
    reports.lastError = [this]() -> const QString& { return m_state.lastError; };
    reports.isAuthenticated = [this] { return m_state.isAuthenticated; };
    return reports;
}

void DictationCoordinator::beginSignIn()
{
    launchMainActorTask([this](CancelToken token) { return m_signIn->begin(token); }, QStringLiteral("beginSignIn"));
}

void DictationCoordinator::cancelSignIn()
{
    m_signIn->cancel();
}

void DictationCoordinator::reopenBrowserSignIn()
{
    m_signIn->reopen(m_lifetime.token());
}

void DictationCoordinator::handleExternalAuthCallback(const QUrl& url)
{
    launchMainActorTask([this, url](CancelToken token) { return handleExternalAuthCallbackTask(url, token); },
        QStringLiteral("handleExternalAuthCallback"));
}

QCoro::Task<> DictationCoordinator::handleExternalAuthCallbackTask(QUrl url, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<std::optional<NativeAuthTokenResponse>> completing = m_signIn->handleCallback(std::move(url), token);
    std::optional<NativeAuthTokenResponse> response = co_await std::move(completing);
    if (!self || !response)
        co_return;
    completeBrowserSignIn(std::move(*response));
    QCoro::Task<> checking = refreshAppUpdateState();
    co_await std::move(checking);
}

void DictationCoordinator::completeBrowserSignIn(NativeAuthTokenResponse response)
{
    // A restore still waiting on an older key must not undo this sign-in.
    ++m_authenticationGeneration;
    m_isSignOutRequested = false;
    m_apiKey = response.apiKey;
    const QString email = boundedServerText(response.me.user.email);
    setMe(std::move(response.me));
    setConfig(std::move(response.config));
    setAuthenticated(true);
    m_signIn->clear();
    setLastError(QString());
    setSignInPhase(DictationPhase::ready);
    logActivity(QStringLiteral("Browser sign-in completed for ") + email + QLatin1Char('.'));
}

} // namespace tessvale
