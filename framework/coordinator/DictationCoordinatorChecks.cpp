#include "coordinator/DictationCoordinator.h"

#include <exception>
#include <utility>

#include <QPointer>
#include <QRegularExpression>
#include <QUrl>

#include "TessvaleConfig.h"
#include "async/Captured.h"
#include "async/Spawn.h"
#include "base/TessvaleError.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "settings/AppSettings.h"

namespace tessvale {

namespace {

bool isMissingUpdateMetadata(const std::exception_ptr& error)
{
    return httpStatusCode(error) == 404;
}

} // namespace

void DictationCoordinator::runConnectivityCheck()
{
    launchMainActorTask(
        [this](CancelToken token) { return runConnectivityCheckTask(token); }, QStringLiteral("runConnectivityCheck"));
}

QCoro::Task<> DictationCoordinator::runConnectivityCheckTask(CancelToken)
{
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUrl> baseURL = m_settings->clientAPIBaseURL();
    if (!baseURL) {
        setLastError(CloudClientError::invalidBaseURL().localizedDescription());
        setPhase(DictationPhase::error);
        logActivity(m_state.lastError);
        co_return;
    }
    QCoro::Task<Captured<QString>> checking = captured([&] { return m_services.cloud.fetchHealth(*baseURL); });
    const Captured<QString> health = co_await std::move(checking);
    if (!self)
        co_return;
    if (const std::exception_ptr& failure = health.error) {
        // The service being down is no fault of ours: shown, not reported.
        const QString description = localizedDescription(failure);
        setLastError(description);
        setLastHealthCheck(QStringLiteral("Health check failed"));
        logActivity(QStringLiteral("Health check failed: ") + description);
        co_return;
    }
    // The body is whatever the origin answers, so it is bounded and redacted like any server text.
    const QString& body = *health.value;
    setLastHealthCheck(
        QStringLiteral("Health check: ") + (body.isEmpty() ? QStringLiteral("ok") : boundedServerText(body)));
    logActivity(m_state.lastHealthCheck);
}

void DictationCoordinator::refreshFocusedAppDiagnostics()
{
    setFocusedAppDiagnostics(m_services.currentDiagnostics());
    if (m_state.focusedAppDiagnostics)
        logActivity(QStringLiteral("Focused app: ") + m_state.focusedAppDiagnostics->summary());
    else
        logActivity(QStringLiteral("Focused app diagnostics unavailable."));
}

void DictationCoordinator::checkForUpdates()
{
    launchMainActorTask([this](CancelToken) { return refreshAppUpdateState(); }, QStringLiteral("checkForUpdates"));
}

QCoro::Task<> DictationCoordinator::refreshAppUpdateState()
{
    QPointer<DictationCoordinator> self(this);
    const std::optional<QUrl> baseURL = m_settings->clientAPIBaseURL();
    if (!baseURL) {
        setAppUpdateState(AppUpdateState::unavailable());
        co_return;
    }
    // The check started last decides, whatever order the answers arrive in.
    const qint64 generation = ++m_updateCheckGeneration;
    setAppUpdateState(AppUpdateState::checking());
    QCoro::Task<Captured<ClientUpdateResponse>> fetching
        = captured([&] { return m_services.cloud.fetchMacOSUpdate(*baseURL, appVersion()); });
    Captured<ClientUpdateResponse> fetched = co_await std::move(fetching);
    if (!self)
        co_return;
    std::optional<ClientUpdateResponse>& update = fetched.value;
    const std::exception_ptr& failure = fetched.error;
    if (generation != m_updateCheckGeneration) {
        logActivity(QStringLiteral("Ignored stale app update check result."));
        co_return;
    }
    if (update) {
        if (update->updateAvailable) {
            const QString latestVersion = boundedServerText(update->latestVersion);
            setAppUpdateState(AppUpdateState::available(std::move(*update)));
            logActivity(QStringLiteral("Update available: ") + latestVersion + QLatin1Char('.'));
        } else {
            setAppUpdateState(AppUpdateState::upToDate(std::move(*update)));
            logActivity(QStringLiteral("App is up to date at ") + appVersion() + QLatin1Char('.'));
        }
        co_return;
    }
    if (isMissingUpdateMetadata(failure)) {
        setAppUpdateState(AppUpdateState::unavailable());
        logActivity(QStringLiteral("Update metadata is unavailable for the current cloud environment."));
        co_return;
    }
    const QString description = localizedDescription(failure);
    setAppUpdateState(AppUpdateState::failed(description));
    reportError(failure, QStringLiteral("Checking for a macOS app update"));
    logActivity(QStringLiteral("Update check failed: ") + description);
}

void DictationCoordinator::openAvailableUpdate()
{
    const std::optional<ClientUpdateResponse> update = availableUpdate();
    if (!update)
        return;
    openExternalPage(update->downloadURL, QStringLiteral("Could not open the update download: "));
    logActivity(QStringLiteral("Opened the update download for ") + boundedServerText(update->latestVersion)
        + QLatin1Char('.'));
}

QString DictationCoordinator::supportEmailAddress()
{
    return QStringLiteral(TESSVALE_SUPPORT_EMAIL);
}

void DictationCoordinator::openSupportEmail()
{
    const QString address = supportEmailAddress();
    // A configured address that is no plain mailbox opens nothing rather than a half-formed mail.
    static const QRegularExpression mailbox(QStringLiteral("^[^@\\s?#/:]+@[^@\\s?#/:]+$"));
    if (!mailbox.match(address).hasMatch()) {
        logActivity(QStringLiteral("Support e-mail address is not configured."));
        return;
    }
    openExternalPage(QUrl(QStringLiteral("mailto:") + address), QStringLiteral("Could not open the support e-mail: "));
}

void DictationCoordinator::openExternalPage(QUrl url, QString failureLog)
{
    // Started here, so the opener runs while the user's click is handled.
    runDetached([this, url = std::move(url), failureLog = std::move(failureLog)](
                    CancelToken token) { return openExternalPageTask(url, failureLog, token); },
        m_lifetime.token(), QStringLiteral("openExternalPage"));
}

QCoro::Task<> DictationCoordinator::openExternalPageTask(QUrl url, QString failureLog, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<PlatformResult> opening = m_services.urlOpener(std::move(url), bound(token));
    const PlatformResult result = co_await std::move(opening);
    if (!self)
        co_return;
    if (!result)
        logActivity(failureLog + result.reason());
}

} // namespace tessvale
