#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>

#include "audio/AudioDeviceMonitor.h"
#include "settings/AppSettings.h"
#include "system/PermissionService.h"

namespace tessvale {

namespace {

QCoro::Task<> refreshPermissionsIfAlive(QPointer<DictationCoordinator> coordinator)
{
    if (coordinator)
        coordinator->refreshPermissions();
    co_return;
}

QString completedRequestLine(bool authorized)
{
    return QStringLiteral("Microphone permission request completed. authorized=")
        + (authorized ? QStringLiteral("true") : QStringLiteral("false"));
}

} // namespace

void DictationCoordinator::bootstrap()
{
    refreshPermissions();
    installPermissionRefreshObserver();
    refreshAudioInputDevices();
    if (!m_audioDeviceMonitor) {
        QPointer<DictationCoordinator> self(this);
        m_audioDeviceMonitor = std::make_unique<AudioDeviceMonitor>(
            [self] {
                if (!self)
                    return;
                self->refreshAudioInputDevices();
                // Whether there is a microphone at all may have changed with the devices, as when the
                // sound server answers only after the start.
                self->refreshPermissions();
            },
            m_services.audioSystem);
    }
    m_audioDeviceMonitor->start();
    logActivity(QStringLiteral("App bootstrapped."));
    showSettingsStoreProblem(m_settings->storeProblem());
    // Both start after the caller has returned; they are not kept and end only with the coordinator.
    launchMainActorTask(
        [this](CancelToken) { return refreshAppUpdateState(); }, QStringLiteral("refreshAppUpdateState"));
    launchMainActorTask(
        [this](CancelToken token) { return restoreSavedSession(token); }, QStringLiteral("restoreSavedSession"));
}

void DictationCoordinator::showSettingsStoreProblem(const QString& problem)
{
    if (problem.isEmpty())
        return;
    logActivity(problem);
    setLastError(problem);
}

void DictationCoordinator::refreshPermissions(bool focusedAppToo)
{
    setPermissionSnapshot(m_services.permissions->currentSnapshot());
    if (focusedAppToo)
        setFocusedAppDiagnostics(m_services.currentDiagnostics());
    logActivity(QStringLiteral("Permissions refreshed. microphone=") + rawValue(m_permissionSnapshot.microphone)
        + QStringLiteral(" accessibility=") + rawValue(m_permissionSnapshot.accessibility));
}

void DictationCoordinator::refreshPermissionsOnActivation()
{
    launchMainActorTask([this](CancelToken) { return refreshPermissionsIfAlive(QPointer<DictationCoordinator>(this)); },
        QStringLiteral("refreshPermissionsOnActivation"));
}

void DictationCoordinator::installPermissionRefreshObserver()
{
    if (m_permissionRefreshObserverInstalled)
        return;
    // Only a GUI application learns of activation; the windows call refreshPermissionsOnActivation too.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!application)
        return;
    // The coordinator as context: the connection ends with it.
    connect(application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            refreshPermissionsOnActivation();
    });
    m_permissionRefreshObserverInstalled = true;
}

void DictationCoordinator::promptForAccessibility()
{
    m_services.permissions->promptForAccessibilityIfNeeded();
    refreshPermissions();
    startPermissionRefreshPolling(QStringLiteral("accessibility settings opened"));
}

void DictationCoordinator::promptForMicrophone()
{
    launchMainActorTask(
        [this](CancelToken token) { return promptForMicrophoneTask(token); }, QStringLiteral("promptForMicrophone"));
}

QCoro::Task<> DictationCoordinator::promptForMicrophoneTask(CancelToken)
{
    QPointer<DictationCoordinator> self(this);
    // The state as last refreshed decides, not a fresh read.
    switch (m_permissionSnapshot.microphone) {
    case PermissionState::authorized:
        refreshPermissions();
        logActivity(completedRequestLine(true));
        co_return;
    case PermissionState::notDetermined: {
        QCoro::Task<bool> request = m_services.permissions->requestMicrophoneAccess();
        const bool granted = co_await std::move(request);
        if (!self)
            co_return;
        refreshPermissions();
        logActivity(completedRequestLine(granted));
        co_return;
    }
    case PermissionState::denied:
        // Only the user can grant it now; watch for the change while the settings are open.
        m_services.permissions->openMicrophonePrivacySettings();
        refreshPermissions();
        startPermissionRefreshPolling(QStringLiteral("microphone settings opened"));
        logActivity(completedRequestLine(false));
        co_return;
    }
}

void DictationCoordinator::startPermissionRefreshPolling(const QString& reason)
{
    cancelPermissionRefreshPolling();
    const PermissionSnapshot baseline = m_permissionSnapshot;
    const QUuid pollID = QUuid::createUuid();
    m_activePermissionRefreshPollID = pollID;
    reportPermissionRefreshPollEvent(PermissionRefreshPollEvent::started(pollID));
    logActivity(QStringLiteral("Started permission polling. reason=") + reason);
    m_permissionRefreshTask = launchMainActorTask(
        [this, pollID, baseline](
            CancelToken token) { return runPermissionRefreshPoll(pollID, baseline, std::move(token)); },
        QStringLiteral("permissionRefreshPoll"));
}

void DictationCoordinator::cancelPermissionRefreshPolling()
{
    if (!m_permissionRefreshTask.isValid() || !m_activePermissionRefreshPollID)
        return;
    TaskHandle task = std::exchange(m_permissionRefreshTask, TaskHandle());
    const QUuid pollID = *std::exchange(m_activePermissionRefreshPollID, std::nullopt);
    task.cancel();
    // The cancelled task finds the identifier cleared and reports nothing more.
    reportPermissionRefreshPollEvent(
        PermissionRefreshPollEvent::finished(pollID, PermissionRefreshPollOutcome::canceled));
}

QCoro::Task<> DictationCoordinator::runPermissionRefreshPoll(
    QUuid pollID, PermissionSnapshot baseline, CancelToken token)
{
    QPointer<DictationCoordinator> self(this);
    Sleeper* sleeper = m_services.sleeper;
    const MonotonicTime deadline = sleeper->now() + m_services.timing.permissionRefreshTimeout;
    for (;;) {
        // A poll replaced before its first check, or while a wake was already due, stops silently.
        if (token.isCancelled() || m_activePermissionRefreshPollID != pollID) {
            finishPermissionRefreshPoll(pollID, PermissionRefreshPollOutcome::canceled);
            co_return;
        }
        refreshPermissions();
        if (m_permissionSnapshot != baseline) {
            logActivity(QStringLiteral("Permission polling stopped after a permission change."));
            finishPermissionRefreshPoll(pollID, PermissionRefreshPollOutcome::changed);
            co_return;
        }
        if (sleeper->now() >= deadline) {
            logActivity(QStringLiteral("Permission polling timed out without a permission change."));
            finishPermissionRefreshPoll(pollID, PermissionRefreshPollOutcome::timedOut);
            co_return;
        }
        bool cancelled = false;
        try {
            QCoro::Task<> pause = sleeper->sleep(m_services.timing.permissionRefreshInterval, token);
            co_await std::move(pause);
        } catch (const CancelledError&) {
            cancelled = true;
        }
        if (!self)
            co_return;
        if (cancelled) {
            finishPermissionRefreshPoll(pollID, PermissionRefreshPollOutcome::canceled);
            co_return;
        }
    }
}

void DictationCoordinator::finishPermissionRefreshPoll(const QUuid& pollID, PermissionRefreshPollOutcome outcome)
{
    // Only the current poll may end itself; a replaced one was reported when it was cancelled.
    if (m_activePermissionRefreshPollID != pollID)
        return;
    m_permissionRefreshTask = TaskHandle();
    m_activePermissionRefreshPollID.reset();
    reportPermissionRefreshPollEvent(PermissionRefreshPollEvent::finished(pollID, outcome));
}

void DictationCoordinator::reportPermissionRefreshPollEvent(const PermissionRefreshPollEvent& event)
{
    if (m_permissionRefreshEventHandler)
        m_permissionRefreshEventHandler(event);
}

} // namespace tessvale
