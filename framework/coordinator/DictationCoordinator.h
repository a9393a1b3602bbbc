#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/OneShot.h"
#include "async/Sleeper.h"
#include "async/TaskHandle.h"
#include "audio/AudioInputDevice.h"
#include "auth/BrowserSignInState.h"
#include "cloud/CloudRestResponses.h"
#include "cloud/ServerStreamMessage.h"
#include "coordinator/CoordinatorServices.h"
#include "coordinator/CoordinatorTypes.h"
#include "coordinator/DictationPresentation.h"
#include "coordinator/DictationSession.h"
#include "focus/FocusedAppDiagnostics.h"
#include "focus/FocusedInsertionTarget.h"
#include "system/PermissionState.h"

namespace tessvale {

class AppSettings;
class AudioDeviceMonitor;
class BrowserSignIn;
struct BrowserSignInReports;
class PermissionPoller;
struct PermissionPollerReports;
class DictationCoordinatorTestAccess;

// The one object that owns the dictation, sign-in and status state the user sees, and turns shortcut
// actions, server messages and window commands into it. Main thread only. Every public operation
// that does asynchronous work returns at once and runs it in a task of its own; destroying the
// coordinator ends those tasks at their next step.
class DictationCoordinator final : public QObject
{
    Q_OBJECT

public:
    // The keychain account of the API key.
    static inline const QString apiKeyAccount = QStringLiteral("cloud-api-key");
    // The version the application reports to the service; computed once.
    static QString appVersion();

    // Starts nothing: no socket, no listener, no task, no device monitor.
    DictationCoordinator(AppSettings& settings, CoordinatorServices services, QObject* parent = nullptr);
    ~DictationCoordinator() override;

    AppSettings& settings() const { return *m_settings; }

    // Published state. A change of any of it but the audio level is announced by stateChanged; those
    // below with a signal of their own also emit it on every assignment.
    DictationPhase phase() const { return m_state.phase; }
    const QString& partialTranscript() const { return m_state.partialTranscript; }
    const QString& finalTranscript() const { return m_state.finalTranscript; }
    const QString& rawTranscript() const { return m_state.rawTranscript; }
    const QString& lastError() const { return m_state.lastError; }
    const std::optional<BrowserSignInState>& browserSignIn() const { return m_state.browserSignIn; }
    const PermissionSnapshot& permissionSnapshot() const { return m_state.permissionSnapshot; }
    const std::optional<ClientMeResponse>& me() const { return m_state.me; }
    const std::optional<ClientConfigResponse>& config() const { return m_state.config; }
    bool isAuthenticated() const { return m_state.isAuthenticated; }
    const QString& usageSummaryText() const { return m_state.usageSummaryText; }
    const QString& lastHealthCheck() const { return m_state.lastHealthCheck; }
    const std::optional<FocusedAppDiagnostics>& focusedAppDiagnostics() const { return m_state.focusedAppDiagnostics; }
    // Newest first; at most one row per session.
    const QList<SessionTranscriptRecord>& transcriptHistory() const { return m_state.transcriptHistory; }
    // Newest first, at most 50 entries.
    const QList<ActivityLogEntry>& activityLog() const { return m_state.activityLog; }
    double audioLevel() const { return m_state.audioLevel; }
    const std::optional<DictationTriggerMode>& triggerMode() const { return m_state.triggerMode; }
    const QString& lastShortcutError() const { return m_state.lastShortcutError; }
    const QList<AudioInputDevice>& availableInputDevices() const { return m_state.availableInputDevices; }
    bool didFinishSessionBootstrap() const { return m_state.didFinishSessionBootstrap; }
    const AppUpdateState& appUpdateState() const { return m_state.appUpdateState; }

    // The texts the menu, the windows and the HUD show, from the state above.
    DictationPresentation presentation() const;
    QString menuBarSymbolName() const { return presentation().menuBarSymbolName(); }
    QString statusTitle() const { return presentation().statusTitle(); }
    QString detailText() const { return presentation().detailText(); }
    QString displayErrorText() const { return presentation().displayErrorText(); }
    bool canRetryFailedInsertion() const { return m_pendingInsertionRetry.has_value(); }
    std::optional<QString> latestTranscriptText() const { return presentation().latestTranscriptText(); }
    bool shouldShowHUD() const { return presentation().shouldShowHUD(); }
    QString hudTitle() const { return presentation().hudTitle(); }
    QString hudSubtitle() const { return presentation().hudSubtitle(); }
    std::optional<ClientUpdateResponse> availableUpdate() const { return presentation().availableUpdate(); }
    // A dictation (or a press that could not start one) ended by a failure, and the HUD tells why for a
    // moment; a dictation shortcut pressed meanwhile dismisses it instead of starting.
    bool isShowingFailure() const { return m_failure.isShown; }
    void dismissFailure();

    // Start-up: permissions, the activation observer, the device list and its monitor, then in the
    // background the update check and the saved-session restore.
    void bootstrap();
    // The permission snapshot and, unless told otherwise, the focused application's diagnostics.
    void refreshPermissions(bool focusedAppToo = true);
    // The activation refresh, for the application to call whenever one of its windows is shown.
    void refreshPermissionsOnActivation();
    void promptForAccessibility();
    void promptForMicrophone();
    void refreshAudioInputDevices();

    // Browser sign-in.
    void beginSignIn();
    void cancelSignIn();
    void reopenBrowserSignIn();
    // Any URL handed to the application; the coordinator decides whether it is the sign-in callback.
    void handleExternalAuthCallback(const QUrl& url);
    void signOut();

    // Dictation: the shortcut actions and the menu's command. Each returns at once; its decision is
    // taken from the state when its task runs.
    void startPushToTalk();
    void stopPushToTalk();
    void toggleHandsFree();
    // The menu's start/stop command; like the toggle, it promotes a held push-to-talk dictation.
    void toggleRecording();
    // Stops the current dictation as its trigger mode stops it (the stop controls): never promotes.
    void stopDictation();
    // The shortcut engine's last complaint; none clears it.
    void updateShortcutError(const std::optional<QString>& text);

    // Inserts the pending transcript again; nothing without one.
    void retryFailedInsertion();
    // The latest transcript onto the clipboard; nothing when there is none.
    void copyLatestTranscript();

    void runConnectivityCheck();
    void refreshFocusedAppDiagnostics();
    void checkForUpdates();
    void openAvailableUpdate();
    // Opens a mail to the support address in the desktop's mail handler.
    void openSupportEmail();
    static QString supportEmailAddress();

    // Before the application quits: cancels the running dictation on the service and closes its
    // connection, stops the microphone, and cancels a running insertion, which puts the user's
    // clipboard back. Returns once that insertion has ended; the caller bounds the wait.
    QCoro::Task<> prepareToQuit();

    // Receives every permission poll's start and finish; empty by default.
    void setPermissionRefreshEventHandler(std::function<void(const PermissionRefreshPollEvent&)> handler);

signals:
    void phaseChanged(tessvale::DictationPhase phase);
    void permissionSnapshotChanged();
    void isAuthenticatedChanged(bool value);
    void activityLogChanged();
    void audioLevelChanged(double level);
    void lastShortcutErrorChanged(const QString& text);
    void didFinishSessionBootstrapChanged(bool value);
    void failureShownChanged(bool shown);
    // At most once per event-loop turn after any published state but the audio level changed; the
    // computed texts may have changed with it.
    void stateChanged();

private:
    friend class DictationCoordinatorTestAccess;

    struct PendingInsertionRetry
    {
        QUuid sessionID;
        QString text;
        FocusedInsertionTargetRef target;
    };

    using Extras = QMap<QString, QString>;

    // State: every assignment of a published field goes through these.
    template <typename T> void publish(T& field, T value);
    template <typename T> void publish(T& field, T value, void (DictationCoordinator::*changed)());
    template <typename T, typename Arg> void publish(T& field, T value, void (DictationCoordinator::*changed)(Arg));
    void scheduleStateChanged();
    void setPhase(DictationPhase phase);
    void setLastError(const QString& text);
    void setBrowserSignIn(std::optional<BrowserSignInState> state);
    void setPermissionSnapshot(PermissionSnapshot snapshot);
    void setMe(std::optional<ClientMeResponse> me);
    void setConfig(std::optional<ClientConfigResponse> config);
    void setAuthenticated(bool value);
    void setFocusedAppDiagnostics(std::optional<FocusedAppDiagnostics> diagnostics);
    void setTranscripts(const QString& partial, const QString& final, const QString& raw);
    void setTranscriptHistory(QList<SessionTranscriptRecord> history);
    void setAudioLevel(double level);
    void setTriggerMode(std::optional<DictationTriggerMode> mode);
    void setDidFinishSessionBootstrap(bool value);
    void setAppUpdateState(AppUpdateState state);
    void setUsageSummaryText(const QString& text);
    void setLastHealthCheck(const QString& text);
    void setPendingInsertionRetry(std::optional<PendingInsertionRetry> retry);
    void setShowingFailure(bool shown);
    // A dictation is between its start and its insertion.
    bool isDictationActive() const;

    // Tasks: body runs on the main thread after the caller returns, with a token that the
    // coordinator's destruction cancels.
    TaskHandle launchMainActorTask(std::function<QCoro::Task<>(CancelToken)> body, const QString& label);
    CancelToken bound(const CancelToken& token) const { return m_lifetime.token().combinedWith(token); }

    // Activity log and error reports.
    void logActivity(const QString& message);
    // The settings store cannot keep the user's changes (an empty text: nothing to show).
    void showSettingsStoreProblem(const QString& problem);
    void reportError(std::exception_ptr error, const QString& context, const Extras& extras = {});

    // Insertion.
    QCoro::Task<> insertTranscriptTask(QString text, QUuid sessionID, FocusedInsertionTargetRef target);
    QCoro::Task<> keepTranscriptFromOwnWindow(QString text, QUuid sessionID, quint64 generation);
    // The insertion's end: overtaken, a reset to signed out settled phase, error and retry already.
    void settleInsertion(const TextInsertionResult& result, const QString& text, const QUuid& sessionID,
        const std::optional<QString>& emailAtStart, bool overtaken);
    void settleFailedInsertion(std::exception_ptr error, const QString& text, const QUuid& sessionID,
        const FocusedInsertionTargetRef& target, bool overtaken);
    QCoro::Task<> retryFailedInsertionTask(PendingInsertionRetry retry);
    // Ends the current session, whatever ended it: the microphone first, then its timers and queued
    // audio, then its stream; the session object goes once the stream has closed.
    QCoro::Task<> disconnectSessionTransport();
    // Given a session, only while it is still the current one.
    QCoro::Task<> finishSessionIfIdle(std::optional<QUuid> sessionID = std::nullopt);
    // The running insertion is over: wakes whoever waits for it.
    void endInsertion();

    // Start-up and permissions.
    PermissionPollerReports permissionPollerReports();
    QCoro::Task<> promptForMicrophoneTask(CancelToken token);
    // Watches for the change the user is making in the settings just opened.
    void startPermissionRefreshPolling(const QString& reason);

    // Restore, account and sign-out.
    QCoro::Task<> restoreSavedSession(CancelToken token);
    // The account of the key the restore read; a rejected key is cleared.
    QCoro::Task<> restoreAccountState(QString apiKey);
    QCoro::Task<> failRestore(std::exception_ptr error);
    void finishSessionBootstrap();
    QCoro::Task<> refreshAccountState(QString apiKey);
    QCoro::Task<> ensureAccountState(QString apiKey);
    QCoro::Task<bool> clearRejectedAPIKeyIfNeeded(
        std::exception_ptr error, QString context, std::optional<QString> messageToShow = std::nullopt);
    QCoro::Task<> signOutTask(CancelToken token);
    QCoro::Task<> resetAuthenticatedState(std::optional<QString> errorMessage);

    // Browser sign-in: the attempt is the sign-in object's; what it completes is applied here.
    BrowserSignInReports browserSignInReports();
    QCoro::Task<> handleExternalAuthCallbackTask(QUrl url, CancelToken token);
    void completeBrowserSignIn(NativeAuthTokenResponse response);
    // Opens url for a page or mail the user asked for; a failure is logged after failureLog.
    void openExternalPage(QUrl url, QString failureLog);
    QCoro::Task<> openExternalPageTask(QUrl url, QString failureLog, CancelToken token);
    // The phase a sign-in path sets, unless a dictation runs or a signed-in user would be shown as
    // signed out.
    void setSignInPhase(DictationPhase phase);

    // Dictation session: start, streaming, server messages, stop, termination and timers, recovery.
    // The open session's identifier; none before a start opens one and after its end.
    std::optional<QUuid> currentSessionID() const;
    using SessionTaskBody = std::function<QCoro::Task<>(QUuid sessionID, CancelToken token)>;
    void setPartialTranscript(const QString& text);
    void setLastShortcutError(const QString& text);
    QCoro::Task<> startPushToTalkTask();
    QCoro::Task<> stopPushToTalkTask();
    // fromShortcut: a failure shown in the HUD takes the press as its dismissal.
    QCoro::Task<> toggleHandsFreeTask(bool fromShortcut);
    QCoro::Task<> stopDictationTask();
    // The start, along its awaits: the way cleared, the checks (the key when they pass, none when the
    // start ended quietly), the session opened, the microphone once the HUD is shown, the stream.
    QCoro::Task<> startRecordingTask(DictationTriggerMode mode);
    QCoro::Task<bool> clearWayForStart();
    QCoro::Task<std::optional<QString>> runStartChecks(DictationTriggerMode mode, quint64 generation);
    QCoro::Task<bool> checkStartPermissions(DictationTriggerMode mode, quint64 generation);
    QUuid openSession(DictationTriggerMode mode, const FocusedInsertionTargetRef& candidate, const QString& apiKey);
    QCoro::Task<bool> openMicrophoneWhenShown(DictationTriggerMode mode, QUuid sessionID, quint64 generation);
    QCoro::Task<> connectSessionStream(QUuid sessionID, quint64 generation, FocusedInsertionTargetRef candidate);
    WebSocketTransport::MessageHandler streamMessageHandler(QUuid sessionID);
    WebSocketTransport::TerminationHandler streamTerminationHandler(QUuid sessionID);
    QCoro::Task<> failStart(std::exception_ptr error, std::optional<QUuid> openedSessionID, quint64 startGeneration);
    bool isCurrentStart(quint64 startGeneration) const;
    bool cancelQueuedHandsFreeStartIfNeeded(DictationTriggerMode mode);
    // Either mode's queued stop or cancel, honoured before the recorder starts.
    bool cancelQueuedStartIfNeeded(DictationTriggerMode mode);
    // Ends a start that opened no session: flags cleared, the phase back to what the start found.
    void endStartBeforeSession();
    QCoro::Task<QString> requireStoredAPIKey();
    QString microphoneLogDescription() const;
    bool isLivePhase() const;
    bool isStopPending() const;
    bool hasCommittedOrInserting() const;
    void startRecorder(DictationSession& session);
    void takeRecorderInbox(const std::shared_ptr<RecorderInbox>& inbox);
    void stopCapture();
    // A session that will not stop the usual way: the microphone closes and nothing more is sent.
    void stopSessionAudio();
    void handleAudioLevel(float level);
    void handleCaptureEnded(const QString& deviceName, const QString& reason);
    void startDrain();
    QCoro::Task<> markSessionReadyForAudio();
    QCoro::Task<> drainQueuedAudio();
    QCoro::Task<> sendAudioChunk(QByteArray chunk);
    QCoro::Task<> sendStopSessionIfDrained();
    // A send that failed: the error shown and reported, then the session ends.
    QCoro::Task<> failStreaming(std::exception_ptr failure, QString context, QString logPrefix);
    QCoro::Task<> handleServerMessage(ServerStreamMessage message, QUuid connectionSessionID);
    bool shouldHandleSessionMessage(const QUuid& id, const QString& label);
    bool shouldHandleConnectionMessage(const QString& label, const std::optional<QUuid>& connectionSessionID);
    QCoro::Task<> applySessionState(SessionStateChangedPayload payload);
    QCoro::Task<> applyDecodedSessionState(QUuid id, DictationSessionState state, std::optional<QString> detail);
    // The service began finalizing (or post-processing), or finished the session.
    void applyServiceFinishing(const QUuid& id, bool finalizing);
    void applyServiceCompleted(const QUuid& id, bool empty, const std::optional<QString>& detail);
    QCoro::Task<> applySessionFailed(QUuid id, std::optional<QString> detail);
    // The service stopped listening before our stop: the microphone closes and nothing more is sent.
    void closeMicrophoneForServiceEnd(const QUuid& id, const QString& event);
    void handleTranscriptCommitted(const TranscriptCommittedPayload& payload);
    QCoro::Task<> handleSessionError(QString text);
    void handleSessionCompleted(const QUuid& id);
    bool failIfMicrophoneLostWithoutText(const QUuid& id);
    QString emptyDictationMessage(const std::optional<QString>& detail) const;
    QString audioStatsSummary() const;
    QCoro::Task<> stopRecordingTask();
    void replaceSessionTask(DictationSession::Timer timer, QUuid sessionID, SessionTaskBody body, const QString& label);
    QCoro::Task<> runSessionStartTimeout(QUuid sessionID, CancelToken token);
    QCoro::Task<> handleSessionStartTimeout(QUuid sessionID);
    QCoro::Task<> handleWebSocketTermination(QUuid sessionID, std::exception_ptr error);
    QCoro::Task<> endFailedSession(QUuid sessionID, QString message, QString logPrefix);
    // Closes the microphone and asks the service to drop a live session, so it delivers no
    // transcript later; occasion ends the log line ("before quitting").
    QCoro::Task<> cancelSessionOnService(QString occasion);
    void startWebSocketPing(QUuid sessionID);
    QCoro::Task<> runWebSocketPing(QUuid sessionID, Duration interval, CancelToken token);
    QCoro::Task<> sendWebSocketPing(QUuid sessionID);
    // Sleeps through the sleeper; false when the wait was cancelled.
    QCoro::Task<bool> waitFor(Duration duration, CancelToken token);
    QCoro::Task<> runSessionErrorCleanup(QUuid sessionID, CancelToken token);
    QCoro::Task<> runSessionCompletionWatchdog(QUuid sessionID, CancelToken token);
    QCoro::Task<> runCommittedTranscriptInsertion(TranscriptCommittedPayload payload);
    QCoro::Task<bool> fetchDictationRecoveryIfNeeded(
        QUuid sessionID, QString message, FocusedInsertionTargetRef target);
    QCoro::Task<bool> fetchDictationRecovery(QUuid sessionID, QString message, FocusedInsertionTargetRef target);
    bool applyDictationRecovery(const QUuid& sessionID, std::optional<QString> rawText,
        std::optional<QString> finalText, const QString& message, FocusedInsertionTargetRef target);
    // A new history row for the session, in place of any earlier one.
    void recordTranscript(const QUuid& sessionID, const QString& rawText, const QString& finalText);

    // The HUD: the wait for it before the microphone opens, and the failure it tells.
    QCoro::Task<> waitForHUDShown(QUuid sessionID);
    void showFailure();
    void endFailureNotice();
    // A shortcut press while a failure is shown: it dismisses it. Answers whether it did.
    bool dismissFailureOnPress();
    QCoro::Task<> runFailureNotice(quint64 notice, CancelToken token);

    // Checks.
    QCoro::Task<> runConnectivityCheckTask(CancelToken token);
    QCoro::Task<> refreshAppUpdateState();

    AppSettings* m_settings;
    CoordinatorServices m_services;
    CancelSource m_lifetime;

    // Published: what the getters answer. Every assignment goes through a setter, which schedules
    // stateChanged and emits the field's own signal where it has one.
    struct PublishedState
    {
        DictationPhase phase = DictationPhase::signedOut;
        QString partialTranscript;
        QString finalTranscript;
        QString rawTranscript;
        QString lastError;
        std::optional<BrowserSignInState> browserSignIn;
        PermissionSnapshot permissionSnapshot;
        std::optional<ClientMeResponse> me;
        std::optional<ClientConfigResponse> config;
        bool isAuthenticated = false;
        QString usageSummaryText;
        QString lastHealthCheck;
        std::optional<FocusedAppDiagnostics> focusedAppDiagnostics;
        QList<SessionTranscriptRecord> transcriptHistory;
        QList<ActivityLogEntry> activityLog;
        double audioLevel = 0;
        std::optional<DictationTriggerMode> triggerMode;
        QString lastShortcutError;
        QList<AudioInputDevice> availableInputDevices;
        bool didFinishSessionBootstrap = false;
        AppUpdateState appUpdateState;
    };
    PublishedState m_state;
    bool m_stateChangePending = false;

    std::unique_ptr<AudioDeviceMonitor> m_audioDeviceMonitor;

    // Dictation. The session's own state lives in it; what is here outlives a session or comes before it.
    std::unique_ptr<DictationSession> m_session;
    // The running insertion: its own cancellation beside the coordinator's lifetime, and whoever waits
    // for its end (failed when the coordinator goes).
    struct InsertionRun
    {
        bool isRunning = false;
        CancelSource cancel;
        QList<OneShot<>> endWaiters;
    };
    InsertionRun m_insertion;
    // The running start, from its guard until its session streams or it ends; none otherwise.
    struct PendingStart
    {
        quint64 generation = 0;
        // The phase the start found, for a queued cancellation to restore.
        DictationPhase phaseBefore = DictationPhase::ready;
        // Queued by the user while the start awaits, before any session is open.
        bool isPushToTalkStopQueued = false;
        bool isHandsFreeCancelQueued = false;
    };
    std::optional<PendingStart> m_start;
    // A push-to-talk press closing what is left of the last session, before its start exists: a release
    // meanwhile is queued here and handed to the start.
    struct ClearingPushToTalk
    {
        bool isStopQueued = false;
    };
    std::optional<ClearingPushToTalk> m_clearingPushToTalk;
    // Bumped by every start, so a start overtaken during its awaits ends quietly.
    quint64 m_startGeneration = 0;
    // The session whose stream is closing, and the one last closed: their sockets' end reports come later.
    struct ClosingSessions
    {
        std::optional<QUuid> closing;
        std::optional<QUuid> closed;
    };
    ClosingSessions m_closingSessions;
    // The session whose capture ended by itself, and the device's name: a retried insertion of its text
    // still warns that the text may be cut short.
    struct LostMicrophone
    {
        QUuid sessionID;
        QString name;
    };
    std::optional<LostMicrophone> m_lostMicrophone;
    std::optional<PendingInsertionRetry> m_pendingInsertionRetry;

    // Sign-in.
    std::unique_ptr<BrowserSignIn> m_signIn;
    // Bumped by every reset to signed out and every completed browser sign-in, so an account refresh
    // that either overtook publishes nothing.
    quint64 m_authenticationGeneration = 0;
    // A rejected key is being cleared; a second report of the same rejection adds nothing.
    bool m_isClearingRejectedKey = false;
    // The user chose Sign Out and has not signed in since: no start reads the keyring for a key.
    bool m_isSignOutRequested = false;
    // The stored API key as read at sign-in, restore or the first start, so a start does not wait on
    // the keyring; forgotten with the signed-in state.
    std::optional<QString> m_apiKey;

    // Permissions.
    std::unique_ptr<PermissionPoller> m_permissionPoller;

    // Update checks.
    qint64 m_updateCheckGeneration = 0;

    // The failure the HUD tells, and its end: each notice has a number, so only the last one's timer
    // ends it.
    struct FailureNotice
    {
        bool isShown = false;
        quint64 number = 0;
        TaskHandle task;
    };
    FailureNotice m_failure;

    // Quitting.
    bool m_isQuitting = false;
};

} // namespace tessvale
