#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QMetaObject>

#include "async/Spawn.h"
#include "audio/AudioDeviceMonitor.h"
#include "base/Logging.h"
#include "coordinator/BrowserSignIn.h"
#include "coordinator/CoordinatorHelpers.h"
#include "coordinator/PermissionPoller.h"
#include "settings/AppSettings.h"
#include "system/PermissionService.h"

namespace tessvale {

namespace {

constexpr qsizetype kActivityLogLimit = 50;

} // namespace

QString DictationCoordinator::appVersion()
{
    static const QString version = bundleAppVersion();
    return version;
}

DictationCoordinator::DictationCoordinator(AppSettings& settings, CoordinatorServices services, QObject* parent)
    : QObject(parent)
    , m_settings(&settings)
    , m_services(std::move(services))
{
    if (!m_services.sleeper)
        m_services.sleeper = &Sleeper::system();
    if (!m_services.pocWorkerSmokeSettingsProvider)
        m_services.pocWorkerSmokeSettingsProvider = [] { return std::optional<POCWorkerSmokeSettings>(); };
    m_state.permissionSnapshot = m_services.permissions->currentSnapshot();
    m_signIn = std::make_unique<BrowserSignIn>(settings, m_services, browserSignInReports());
    m_permissionPoller = std::make_unique<PermissionPoller>(m_services, permissionPollerReports());
    // Changes the user makes are about to be lost: shown, not only logged.
    connect(&settings, &AppSettings::storeProblemChanged, this, &DictationCoordinator::showSettingsStoreProblem);
}

DictationCoordinator::~DictationCoordinator()
{
    // Ends every task at its next step; they hold a QPointer and touch nothing once it is null.
    m_lifetime.cancel();
    // The session's timers end with it, and its recorder posts nothing more.
    const std::shared_ptr<DictationSession::RecoveryFetch> recovery
        = m_session ? m_session->releaseRecovery() : nullptr;
    m_session.reset();
    // A quit waiting for the insertion ends without touching this object.
    for (OneShot<>& waiter : std::exchange(m_insertion.endWaiters, {}))
        waiter.fail(CancelledError());
    // Failures of the session waiting for its recovery fetch's answer end too.
    if (recovery)
        recovery->fail();
}

DictationPresentation DictationCoordinator::presentation() const
{
    DictationPresentation presentation;
    presentation.phase = m_state.phase;
    presentation.lastError = m_state.lastError;
    presentation.isAuthenticated = m_state.isAuthenticated;
    presentation.browserSignIn = m_state.browserSignIn;
    presentation.partialTranscript = m_state.partialTranscript;
    presentation.finalTranscript = m_state.finalTranscript;
    presentation.transcriptHistory = m_state.transcriptHistory;
    presentation.me = m_state.me;
    presentation.cloudBaseURL = m_settings->cloudBaseURL();
    presentation.hasPendingInsertionRetry = m_pendingInsertionRetry.has_value();
    presentation.appUpdateState = m_state.appUpdateState;
    presentation.showsFailure = m_failure.isShown;
    return presentation;
}

void DictationCoordinator::setPermissionRefreshEventHandler(
    std::function<void(const PermissionRefreshPollEvent&)> handler)
{
    m_permissionPoller->setEventHandler(std::move(handler));
}

// State.

template <typename T> void DictationCoordinator::publish(T& field, T value)
{
    field = std::move(value);
    scheduleStateChanged();
}

template <typename T> void DictationCoordinator::publish(T& field, T value, void (DictationCoordinator::*changed)())
{
    field = std::move(value);
    emit(this->*changed)();
    scheduleStateChanged();
}

template <typename T, typename Arg>
void DictationCoordinator::publish(T& field, T value, void (DictationCoordinator::*changed)(Arg))
{
    field = std::move(value);
    emit(this->*changed)(field);
    scheduleStateChanged();
}

void DictationCoordinator::scheduleStateChanged()
{
    if (m_stateChangePending)
        return;
    m_stateChangePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_stateChangePending = false;
            emit stateChanged();
        },
        Qt::QueuedConnection);
}

void DictationCoordinator::setPhase(DictationPhase phase)
{
    // Set before the phase is published, so whoever follows the phase sees the HUD wanted throughout.
    // A rejected key ends a running dictation signed out: that is a failure the user is told of too.
    const bool failed
        = phase == DictationPhase::error || (phase == DictationPhase::signedOut && m_isClearingRejectedKey);
    if (failed && isDictationPhase(m_state.phase))
        showFailure();
    else if (isDictationPhase(phase))
        endFailureNotice();
    publish(m_state.phase, phase, &DictationCoordinator::phaseChanged);
}

void DictationCoordinator::setShowingFailure(bool shown)
{
    publish(m_failure.isShown, shown, &DictationCoordinator::failureShownChanged);
}

void DictationCoordinator::setLastError(const QString& text)
{
    publish(m_state.lastError, text);
}

void DictationCoordinator::setBrowserSignIn(std::optional<BrowserSignInState> state)
{
    publish(m_state.browserSignIn, std::move(state));
}

void DictationCoordinator::setPermissionSnapshot(PermissionSnapshot snapshot)
{
    publish(m_state.permissionSnapshot, snapshot, &DictationCoordinator::permissionSnapshotChanged);
}

void DictationCoordinator::setMe(std::optional<ClientMeResponse> me)
{
    publish(m_state.me, std::move(me));
}

void DictationCoordinator::setConfig(std::optional<ClientConfigResponse> config)
{
    publish(m_state.config, std::move(config));
}

void DictationCoordinator::setAuthenticated(bool value)
{
    publish(m_state.isAuthenticated, value, &DictationCoordinator::isAuthenticatedChanged);
}

void DictationCoordinator::setFocusedAppDiagnostics(std::optional<FocusedAppDiagnostics> diagnostics)
{
    publish(m_state.focusedAppDiagnostics, std::move(diagnostics));
}

void DictationCoordinator::setTranscripts(const QString& partial, const QString& final, const QString& raw)
{
    publish(m_state.partialTranscript, partial);
    publish(m_state.finalTranscript, final);
    publish(m_state.rawTranscript, raw);
}

void DictationCoordinator::setPartialTranscript(const QString& text)
{
    publish(m_state.partialTranscript, text);
}

void DictationCoordinator::setLastShortcutError(const QString& text)
{
    publish(m_state.lastShortcutError, text, &DictationCoordinator::lastShortcutErrorChanged);
}

void DictationCoordinator::setTranscriptHistory(QList<SessionTranscriptRecord> history)
{
    publish(m_state.transcriptHistory, std::move(history));
}

void DictationCoordinator::setAudioLevel(double level)
{
    // Many times a second while recording; views follow it through its own signal alone.
    m_state.audioLevel = level;
    emit audioLevelChanged(level);
}

void DictationCoordinator::setTriggerMode(std::optional<DictationTriggerMode> mode)
{
    publish(m_state.triggerMode, mode);
}

void DictationCoordinator::setDidFinishSessionBootstrap(bool value)
{
    publish(m_state.didFinishSessionBootstrap, value, &DictationCoordinator::didFinishSessionBootstrapChanged);
}

void DictationCoordinator::setAppUpdateState(AppUpdateState state)
{
    publish(m_state.appUpdateState, std::move(state));
}

void DictationCoordinator::setUsageSummaryText(const QString& text)
{
    publish(m_state.usageSummaryText, text);
}

void DictationCoordinator::setLastHealthCheck(const QString& text)
{
    publish(m_state.lastHealthCheck, text);
}

void DictationCoordinator::setPendingInsertionRetry(std::optional<PendingInsertionRetry> retry)
{
    // Not published itself, but canRetryFailedInsertion follows it.
    m_pendingInsertionRetry = std::move(retry);
    scheduleStateChanged();
}

bool DictationCoordinator::isDictationActive() const
{
    return isDictationPhase(m_state.phase) || m_start || m_insertion.isRunning;
}

// Tasks.

TaskHandle DictationCoordinator::launchMainActorTask(
    std::function<QCoro::Task<>(CancelToken)> body, const QString& label)
{
    return spawnOnMain(
        this,
        [body = std::move(body), lifetime = m_lifetime.token()](
            CancelToken token) { return body(token.combinedWith(lifetime)); },
        label);
}

// Activity log and error reports.

void DictationCoordinator::logActivity(const QString& message)
{
    qCInfo(lcDictationCoordinator).noquote() << message;
    if (m_services.errorReporting.isStarted())
        m_services.errorReporting.addBreadcrumb(QStringLiteral("dictation"), message);
    QList<ActivityLogEntry> log = m_state.activityLog;
    log.prepend(ActivityLogEntry { QUuid::createUuid(), QDateTime::currentDateTime(), message });
    if (log.size() > kActivityLogLimit)
        log.resize(kActivityLogLimit);
    publish(m_state.activityLog, std::move(log), &DictationCoordinator::activityLogChanged);
}

void DictationCoordinator::reportError(std::exception_ptr error, const QString& context, const Extras& extras)
{
    if (shouldReportError(error))
        m_services.errorReporting.capture(error, context, extras);
}

void DictationCoordinator::refreshAudioInputDevices()
{
    publish(m_state.availableInputDevices, AudioCaptureService::availableInputDevices(*m_services.audioSystem));
}

} // namespace tessvale
