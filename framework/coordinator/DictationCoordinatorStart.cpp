#include "coordinator/DictationCoordinator.h"

#include <utility>

#include <QPointer>

#include "async/Captured.h"
#include "audio/AudioCaptureError.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "settings/AppSettings.h"
#include "system/PermissionService.h"

namespace tessvale {

namespace {

const QString kRejectedKeyText = QStringLiteral("Saved session expired before dictation could start");

bool isMissingAPIKey(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CloudClientError& cloudError) {
        return cloudError.errorCase() == CloudClientError::Case::missingAPIKey;
    } catch (...) {
        return false;
    }
}

} // namespace

// Entry points.

void DictationCoordinator::startPushToTalk()
{
    launchMainActorTask([this](CancelToken) { return startPushToTalkTask(); }, QStringLiteral("startPushToTalk"));
}

void DictationCoordinator::stopPushToTalk()
{
    launchMainActorTask([this](CancelToken) { return stopPushToTalkTask(); }, QStringLiteral("stopPushToTalk"));
}

void DictationCoordinator::toggleHandsFree()
{
    launchMainActorTask([this](CancelToken) { return toggleHandsFreeTask(true); }, QStringLiteral("toggleHandsFree"));
}

void DictationCoordinator::toggleRecording()
{
    launchMainActorTask([this](CancelToken) { return toggleHandsFreeTask(false); }, QStringLiteral("toggleRecording"));
}

void DictationCoordinator::stopDictation()
{
    launchMainActorTask([this](CancelToken) { return stopDictationTask(); }, QStringLiteral("stopDictation"));
}

void DictationCoordinator::updateShortcutError(const std::optional<QString>& text)
{
    setLastShortcutError(text.value_or(QString()));
    if (text && !text->isEmpty())
        logActivity(QStringLiteral("Shortcut error: ") + *text);
}

// Decisions.

QCoro::Task<> DictationCoordinator::startPushToTalkTask()
{
    if (dismissFailureOnPress())
        co_return;
    switch (m_state.phase) {
    case DictationPhase::finalizing:
    case DictationPhase::postProcessing:
    case DictationPhase::inserting:
        logActivity(
            QStringLiteral("Ignored push-to-talk start while phase=") + caseName(m_state.phase) + QLatin1Char('.'));
        co_return;
    case DictationPhase::recording:
    case DictationPhase::starting:
        logActivity(QStringLiteral("Ignored push-to-talk start because dictation is already active."));
        co_return;
    case DictationPhase::signedOut:
    case DictationPhase::ready:
    case DictationPhase::error:
        break;
    }
    QCoro::Task<> starting = startRecordingTask(DictationTriggerMode::pushToTalk);
    co_await std::move(starting);
}

QCoro::Task<> DictationCoordinator::stopPushToTalkTask()
{
    if (m_state.triggerMode != DictationTriggerMode::pushToTalk) {
        if (m_clearingPushToTalk) {
            m_clearingPushToTalk->isStopQueued = true;
            logActivity(QStringLiteral("Queued push-to-talk stop while the dictation session is starting."));
            co_return;
        }
        logActivity(QStringLiteral("Ignored push-to-talk stop because push-to-talk is not active."));
        co_return;
    }
    if (m_state.phase == DictationPhase::recording || m_state.phase == DictationPhase::starting) {
        QCoro::Task<> stopping = stopRecordingTask();
        co_await std::move(stopping);
        co_return;
    }
    if (m_start) {
        m_start->isPushToTalkStopQueued = true;
        logActivity(QStringLiteral("Queued push-to-talk stop while the dictation session is starting."));
    }
}

QCoro::Task<> DictationCoordinator::toggleHandsFreeTask(bool fromShortcut)
{
    if (fromShortcut && dismissFailureOnPress())
        co_return;
    const bool live = m_state.phase == DictationPhase::starting || m_state.phase == DictationPhase::recording;
    if (m_start && m_state.triggerMode == DictationTriggerMode::handsFree && !live) {
        m_start->isHandsFreeCancelQueued = true;
        logActivity(QStringLiteral("Queued hands-free cancellation while the dictation session is starting."));
        co_return;
    }
    if (live) {
        if (m_state.triggerMode == DictationTriggerMode::pushToTalk) {
            setTriggerMode(DictationTriggerMode::handsFree);
            logActivity(QStringLiteral("Promoted push-to-talk session to hands-free."));
            co_return;
        }
        QCoro::Task<> stopping = stopRecordingTask();
        co_await std::move(stopping);
        co_return;
    }
    if (m_state.phase == DictationPhase::finalizing || m_state.phase == DictationPhase::postProcessing
        || m_state.phase == DictationPhase::inserting) {
        logActivity(QStringLiteral("Ignored toggle request while phase=") + caseName(m_state.phase) + QLatin1Char('.'));
        co_return;
    }
    QCoro::Task<> starting = startRecordingTask(DictationTriggerMode::handsFree);
    co_await std::move(starting);
}

QCoro::Task<> DictationCoordinator::stopDictationTask()
{
    // Each mode's own stop; a held push-to-talk dictation is stopped, not promoted.
    if (m_state.triggerMode == DictationTriggerMode::pushToTalk) {
        QCoro::Task<> stopping = stopPushToTalkTask();
        co_await std::move(stopping);
        co_return;
    }
    if (m_state.triggerMode != DictationTriggerMode::handsFree) {
        logActivity(QStringLiteral("Ignored stop request because no dictation is active."));
        co_return;
    }
    const bool live = m_state.phase == DictationPhase::starting || m_state.phase == DictationPhase::recording;
    if (live) {
        QCoro::Task<> stopping = stopRecordingTask();
        co_await std::move(stopping);
        co_return;
    }
    if (m_start) {
        m_start->isHandsFreeCancelQueued = true;
        logActivity(QStringLiteral("Queued hands-free cancellation while the dictation session is starting."));
        co_return;
    }
    logActivity(QStringLiteral("Ignored stop request while phase=") + caseName(m_state.phase) + QLatin1Char('.'));
}

bool DictationCoordinator::cancelQueuedHandsFreeStartIfNeeded(DictationTriggerMode mode)
{
    if (mode != DictationTriggerMode::handsFree || !m_start || !m_start->isHandsFreeCancelQueued)
        return false;
    endStartBeforeSession();
    logActivity(QStringLiteral("Canceled hands-free dictation before the session opened."));
    return true;
}

bool DictationCoordinator::cancelQueuedStartIfNeeded(DictationTriggerMode mode)
{
    if (cancelQueuedHandsFreeStartIfNeeded(mode))
        return true;
    // A key already released records nothing: no microphone, no connection, no insertion.
    if (mode != DictationTriggerMode::pushToTalk || !m_start || !m_start->isPushToTalkStopQueued)
        return false;
    endStartBeforeSession();
    logActivity(QStringLiteral("Canceled push-to-talk dictation before the session opened."));
    return true;
}

void DictationCoordinator::endStartBeforeSession()
{
    const DictationPhase phaseBefore = m_start ? m_start->phaseBefore : DictationPhase::ready;
    m_start.reset();
    setTriggerMode(std::nullopt);
    // Back to what the start found: a signed-out user stays signed out, unless the start's own
    // account fetch (or a sign-in meanwhile) signed them in.
    const bool signedInMeanwhile = phaseBefore == DictationPhase::signedOut && m_state.isAuthenticated;
    setPhase(signedInMeanwhile ? DictationPhase::ready : phaseBefore);
}

bool DictationCoordinator::isCurrentStart(quint64 startGeneration) const
{
    return m_start && m_start->generation == startGeneration;
}

bool DictationCoordinator::isLivePhase() const
{
    return m_state.phase == DictationPhase::starting || m_state.phase == DictationPhase::recording
        || m_state.phase == DictationPhase::finalizing || m_state.phase == DictationPhase::postProcessing;
}

QCoro::Task<QString> DictationCoordinator::requireStoredAPIKey()
{
    // A copy: the task's promise moves from an lvalue it is handed.
    if (m_apiKey && !m_apiKey->isEmpty())
        co_return QString(*m_apiKey);
    // Signed out by the user: the keyring may still hold the key while it deletes it, or after it
    // failed to, but it is no longer the user's.
    if (m_isSignOutRequested)
        throw CloudClientError::missingAPIKey();
    QPointer<DictationCoordinator> self(this);
    const quint64 generation = m_authenticationGeneration;
    QCoro::Task<std::optional<QString>> reading = m_services.keychain->read(apiKeyAccount, bound(CancelToken()));
    const std::optional<QString> key = co_await std::move(reading);
    if (!key || key->isEmpty() || (self && m_isSignOutRequested))
        throw CloudClientError::missingAPIKey();
    // A sign-out or sign-in during the read decides which key is current.
    if (self && m_authenticationGeneration == generation)
        m_apiKey = key;
    co_return *key;
}

QString DictationCoordinator::microphoneLogDescription() const
{
    const QString uid = m_settings->preferredMicrophoneUID().trimmed();
    if (uid.isEmpty())
        return QStringLiteral("system default");
    for (const AudioInputDevice& device : m_state.availableInputDevices) {
        if (device.uid == uid)
            return device.name;
    }
    return QStringLiteral("saved microphone unavailable");
}

// The start.

QCoro::Task<> DictationCoordinator::startRecordingTask(DictationTriggerMode mode)
{
    QPointer<DictationCoordinator> self(this);
    const bool pushToTalk = mode == DictationTriggerMode::pushToTalk;
    if (pushToTalk)
        m_clearingPushToTalk = ClearingPushToTalk { false };
    QCoro::Task<bool> clearing = clearWayForStart();
    const bool mayStart = co_await std::move(clearing);
    if (!self)
        co_return;
    const bool releasedMeanwhile = pushToTalk && m_clearingPushToTalk && m_clearingPushToTalk->isStopQueued;
    if (pushToTalk)
        m_clearingPushToTalk.reset();
    if (!mayStart)
        co_return;

    const FocusedInsertionTargetRef candidate = m_services.focusTargetProvider();
    const quint64 generation = ++m_startGeneration;
    m_start = PendingStart { generation, m_state.phase };
    m_start->isPushToTalkStopQueued = releasedMeanwhile;
    // A start asked for replaces what the HUD told of the last one.
    endFailureNotice();
    setTriggerMode(mode);

    QCoro::Task<Captured<std::optional<QString>>> checking = captured([&] { return runStartChecks(mode, generation); });
    const Captured<std::optional<QString>> checked = co_await std::move(checking);
    // A wait ended by the coordinator's destruction throws too: then nothing of it may be touched.
    if (!self)
        co_return;
    if (checked.error) {
        QCoro::Task<> failing = failStart(checked.error, std::nullopt, generation);
        co_await std::move(failing);
        co_return;
    }
    // Ended quietly: overtaken, or cancelled by the user before the session opened.
    if (!*checked.value)
        co_return;

    const QUuid sessionID = openSession(mode, candidate, **checked.value);
    QCoro::Task<bool> opening = openMicrophoneWhenShown(mode, sessionID, generation);
    const bool listening = co_await std::move(opening);
    if (!self || !listening)
        co_return;
    QCoro::Task<> streaming = connectSessionStream(sessionID, generation, candidate);
    co_await std::move(streaming);
}

QCoro::Task<bool> DictationCoordinator::clearWayForStart()
{
    if (!m_start && !m_services.recorder.isRunning() && !m_session)
        co_return true;
    // What is left of a session that is over (not starting, streaming or inserting) gives way
    // instead of blocking every later start.
    const bool stale
        = !m_start && !m_insertion.isRunning && !isLivePhase() && m_state.phase != DictationPhase::inserting;
    if (!stale) {
        logActivity(QStringLiteral("Ignored start request because a dictation session is already active."));
        co_return false;
    }
    QPointer<DictationCoordinator> self(this);
    logActivity(QStringLiteral("Closing the previous dictation session before starting a new one."));
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
    if (!self)
        co_return false;
    if (m_start || m_session) {
        logActivity(QStringLiteral("Ignored start request because a dictation session is already active."));
        co_return false;
    }
    co_return true;
}

QCoro::Task<std::optional<QString>> DictationCoordinator::runStartChecks(DictationTriggerMode mode, quint64 generation)
{
    QPointer<DictationCoordinator> self(this);
    QCoro::Task<bool> permitting = checkStartPermissions(mode, generation);
    const bool permitted = co_await std::move(permitting);
    if (!self || !permitted)
        co_return std::nullopt;

    QCoro::Task<QString> reading = requireStoredAPIKey();
    QString apiKey = co_await std::move(reading);
    if (!self || !isCurrentStart(generation))
        co_return std::nullopt;

    QCoro::Task<Captured<void>> ensuring = captured([&] { return ensureAccountState(apiKey); });
    const Captured<void> ensured = co_await std::move(ensuring);
    std::exception_ptr accountError = ensured.error;
    // A sign-out or a cancel during the account check ends the start without a word.
    if (!self || !isCurrentStart(generation))
        co_return std::nullopt;
    if (accountError && !isCancellationError(accountError))
        std::rethrow_exception(accountError);
    if (cancelQueuedStartIfNeeded(mode))
        co_return std::nullopt;
    // A browser sign-in completed meanwhile and dropped this fetch: go on with its account and key.
    if (accountError && m_state.isAuthenticated && m_state.me && m_state.config) {
        accountError = nullptr;
        logActivity(QStringLiteral("Continuing the dictation start with the account that just signed in."));
        QCoro::Task<QString> rereading = requireStoredAPIKey();
        apiKey = co_await std::move(rereading);
        if (!self || !isCurrentStart(generation))
            co_return std::nullopt;
        if (cancelQueuedStartIfNeeded(mode))
            co_return std::nullopt;
    }
    if (accountError)
        std::rethrow_exception(accountError);
    if (!m_state.me || !m_state.config)
        throw CloudClientError::invalidResponse(QStringLiteral("Missing cloud bootstrap state."));
    co_return apiKey;
}

QCoro::Task<bool> DictationCoordinator::checkStartPermissions(DictationTriggerMode mode, quint64 generation)
{
    QPointer<DictationCoordinator> self(this);
    // The focused application's diagnostics, the slow part of a refresh, wait until the
    // microphone runs, unless the start fails here.
    refreshPermissions(false);
    switch (m_state.permissionSnapshot.microphone) {
    case PermissionState::notDetermined: {
        QCoro::Task<bool> asking = m_services.permissions->requestMicrophoneAccess();
        const bool granted = co_await std::move(asking);
        if (!self || !isCurrentStart(generation))
            co_return false;
        refreshPermissions();
        if (!granted)
            throw AudioCaptureError::inputUnavailable();
        break;
    }
    case PermissionState::denied:
        refreshPermissions();
        throw AudioCaptureError::inputUnavailable();
    case PermissionState::authorized:
        refreshPermissions(false);
        break;
    }
    if (cancelQueuedStartIfNeeded(mode))
        co_return false;

    if (m_state.permissionSnapshot.accessibility != PermissionState::authorized) {
        m_services.permissions->promptForAccessibilityIfNeeded();
        refreshPermissions();
        throw TextInsertionError(TextInsertionError::Case::missingAccessibilityPermission);
    }
    co_return true;
}

QUuid DictationCoordinator::openSession(
    DictationTriggerMode mode, const FocusedInsertionTargetRef& candidate, const QString& apiKey)
{
    const WebSocketTransport transport = m_services.webSocketFactory(m_state.config->webSocketURL, apiKey);
    const QUuid sessionID = QUuid::createUuid();
    const bool restoreTarget = m_settings->restoreOriginalInputAfterDictation();
    // A new session starts with nothing of an earlier one: what is its own is new with it.
    m_session = std::make_unique<DictationSession>(sessionID, transport, restoreTarget ? candidate : nullptr);
    m_session->markRecordingStarted();
    setTranscripts(QString(), QString(), QString());
    setLastError(QString());
    setUsageSummaryText(QString());
    m_lostMicrophone.reset();
    setPendingInsertionRetry(std::nullopt);
    setPhase(DictationPhase::starting);
    logActivity(QStringLiteral("Opening ") + rawValue(mode) + QStringLiteral(" dictation session ") + logID(sessionID)
        + QStringLiteral(". microphone=") + microphoneLogDescription());
    if (!candidate)
        logActivity(QStringLiteral("Unable to capture insertion target before dictation started."));
    else if (restoreTarget)
        logActivity(QStringLiteral("Captured insertion target ") + candidate->summary() + QLatin1Char('.'));
    else
        logActivity(
            QStringLiteral("Original input restore disabled. Will insert into the currently focused field instead of ")
            + candidate->summary() + QLatin1Char('.'));
    return sessionID;
}

QCoro::Task<bool> DictationCoordinator::openMicrophoneWhenShown(
    DictationTriggerMode mode, QUuid sessionID, quint64 generation)
{
    QPointer<DictationCoordinator> self(this);
    // The user sees the HUD before the microphone hears anything.
    QCoro::Task<> showing = waitForHUDShown(sessionID);
    co_await std::move(showing);
    if (!self || currentSessionID() != sessionID)
        co_return false;
    // Signed out while the HUD came up: the sign-out ends the session, and the microphone stays closed.
    if (m_isSignOutRequested)
        co_return false;
    // Stopped while the HUD came up: nothing was recorded, so nothing is sent.
    if (m_session->isStopPending() || m_state.phase != DictationPhase::starting) {
        logActivity(
            QStringLiteral("Canceled ") + rawValue(mode) + QStringLiteral(" dictation before the microphone opened."));
        QCoro::Task<> finishing = finishSessionIfIdle(sessionID);
        co_await std::move(finishing);
        co_return false;
    }

    std::exception_ptr failure;
    try {
        startRecorder(*m_session);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        QCoro::Task<> failing = failStart(failure, sessionID, generation);
        co_await std::move(failing);
        co_return false;
    }
    setFocusedAppDiagnostics(m_services.currentDiagnostics());
    replaceSessionTask(
        DictationSession::Timer::startTimeout, sessionID,
        [this](QUuid id, CancelToken token) { return runSessionStartTimeout(id, token); },
        QStringLiteral("sessionStartTimeout"));
    co_return true;
}

QCoro::Task<> DictationCoordinator::connectSessionStream(
    QUuid sessionID, quint64 generation, FocusedInsertionTargetRef candidate)
{
    QPointer<DictationCoordinator> self(this);
    const WebSocketTransport transport = *m_session->transport();
    m_session->setOpening(true);
    m_session->markStreamBegun();
    QCoro::Task<Captured<void>> connecting = captured(
        [&] { return transport.connect(streamMessageHandler(sessionID), streamTerminationHandler(sessionID)); });
    const Captured<void> connected = co_await std::move(connecting);
    std::exception_ptr failure = connected.error;
    if (!self || currentSessionID() != sessionID)
        co_return;

    if (!failure) {
        StartSessionPayload payload;
        payload.sessionID = sessionID;
        payload.deviceID = m_state.me->device.id;
        payload.appVersion = appVersion();
        if (candidate)
            payload.focusApp = candidate->application().name;
        QCoro::Task<Captured<void>> sending
            = captured([&] { return transport.send(ClientStreamMessage::startSession(payload)); });
        const Captured<void> sent = co_await std::move(sending);
        failure = sent.error;
        // A session torn down meanwhile (a stop, a sign-out, a failure of its own) is not ours to fail.
        if (!self || currentSessionID() != sessionID)
            co_return;
    }
    if (failure) {
        // A failed opening stays the start's.
        QCoro::Task<> failing = failStart(failure, sessionID, generation);
        co_await std::move(failing);
        co_return;
    }
    // From here on the stream's end report speaks for the session.
    m_session->setOpening(false);

    startWebSocketPing(sessionID);
    const bool stopQueued = m_start && m_start->isPushToTalkStopQueued;
    if (m_startGeneration == generation)
        m_start.reset();
    // A session the service failed meanwhile has nothing left to stop: its failure stays what it says.
    const bool live = m_state.phase == DictationPhase::starting || m_state.phase == DictationPhase::recording;
    if (stopQueued && live && m_state.triggerMode == DictationTriggerMode::pushToTalk) {
        if (m_start)
            m_start->isPushToTalkStopQueued = false;
        QCoro::Task<> stopping = stopRecordingTask();
        co_await std::move(stopping);
    }
}

// Both handlers are called on the main thread; each message and the end become tasks of their own.
WebSocketTransport::MessageHandler DictationCoordinator::streamMessageHandler(QUuid sessionID)
{
    QPointer<DictationCoordinator> self(this);
    return [self, sessionID](const ServerStreamMessage& message) {
        if (!self)
            return;
        DictationCoordinator* coordinator = self.data();
        coordinator->launchMainActorTask(
            [coordinator, message, sessionID](
                CancelToken) { return coordinator->handleServerMessage(message, sessionID); },
            QStringLiteral("handleServerMessage"));
    };
}

WebSocketTransport::TerminationHandler DictationCoordinator::streamTerminationHandler(QUuid sessionID)
{
    QPointer<DictationCoordinator> self(this);
    return [self, sessionID](std::exception_ptr error) {
        if (!self)
            return;
        DictationCoordinator* coordinator = self.data();
        coordinator->launchMainActorTask(
            [coordinator, sessionID, error](
                CancelToken) { return coordinator->handleWebSocketTermination(sessionID, error); },
            QStringLiteral("handleWebSocketTermination"));
    };
}
QCoro::Task<> DictationCoordinator::failStart(
    std::exception_ptr error, std::optional<QUuid> openedSessionID, quint64 startGeneration)
{
    QPointer<DictationCoordinator> self(this);
    // Whatever overtook this start (a sign-out, a teardown, a newer start) owns the state now.
    const auto overtaken
        = [&] { return openedSessionID ? currentSessionID() != openedSessionID : !isCurrentStart(startGeneration); };
    if (overtaken())
        co_return;
    // Cancelled by a sign-in or a sign-out that owns the state now: nothing failed.
    if (isCancellationError(error) && !openedSessionID) {
        endStartBeforeSession();
        co_return;
    }

    QCoro::Task<bool> clearing = clearRejectedAPIKeyIfNeeded(error, kRejectedKeyText, kRejectedKeyText);
    const bool signedOut = co_await std::move(clearing);
    if (!self)
        co_return;
    if (signedOut) {
        if (m_startGeneration == startGeneration) {
            m_start.reset();
            setTriggerMode(std::nullopt);
        }
        // The press could not dictate: the HUD says why (the session expired, where to sign in).
        showFailure();
        co_return;
    }
    if (overtaken())
        co_return;

    m_start.reset();
    setTriggerMode(std::nullopt);
    const QString description = localizedDescription(error);
    // Signed out, the missing key is no news: why the user was signed out stays the error until
    // they sign in again.
    if (m_state.isAuthenticated || m_state.lastError.isEmpty() || !isMissingAPIKey(error))
        setLastError(description);
    showFailure();
    setPhase(DictationPhase::error);
    reportError(error, QStringLiteral("Starting a dictation session"));
    logActivity(QStringLiteral("Failed to start recording: ") + description);
    QCoro::Task<> closing = disconnectSessionTransport();
    co_await std::move(closing);
}

} // namespace tessvale
