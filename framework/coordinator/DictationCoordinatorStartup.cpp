#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "audio/AudioDeviceMonitor.h"
#include "coordinator/PermissionPoller.h"
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
    m_permissionPoller->installActivationObserver();
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
    logActivity(QStringLiteral("Permissions refreshed. microphone=") + rawValue(m_state.permissionSnapshot.microphone)
        + QStringLiteral(" accessibility=") + rawValue(m_state.permissionSnapshot.accessibility));
}

void DictationCoordinator::refreshPermissionsOnActivation()
{
    launchMainActorTask([this](CancelToken) { return refreshPermissionsIfAlive(QPointer<DictationCoordinator>(this)); },
        QStringLiteral("refreshPermissionsOnActivation"));
}

PermissionPollerReports DictationCoordinator::permissionPollerReports()
{
    PermissionPollerReports reports;
    reports.refresh = [this] {
        refreshPermissions();
        return m_state.permissionSnapshot;
    };
    reports.log = [this](const QString& message) { logActivity(message); };
    reports.activated = [this] { refreshPermissionsOnActivation(); };
    return reports;
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
    switch (m_state.permissionSnapshot.microphone) {
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
    m_permissionPoller->start(reason, m_state.permissionSnapshot, m_lifetime.token());
}

} // namespace tessvale
