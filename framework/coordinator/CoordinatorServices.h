#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QMap>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/Sleeper.h"
#include "auth/KeychainStore.h"
#include "cloud/CloudRestResponses.h"
#include "coordinator/CoordinatorSeams.h"
#include "focus/FocusedAppDiagnostics.h"
#include "focus/FocusedInsertionTarget.h"
#include "insertion/TextInsertionTypes.h"
#include "platform/system/UrlOpener.h"
#include "settings/POCWorkerSmokeSettings.h"

namespace tessvale {

class AudioSystem;
class Clipboard;
class CloudAPIClient;
class FocusedAppDiagnosticsService;
class PermissionService;
class TextInsertionService;

// The REST calls the coordinator makes, as replaceable operations (the cloud client's own signatures).
struct CoordinatorCloud
{
    std::function<QCoro::Task<NativeAuthStartResponse>(QUrl baseURL, QString deviceName, QString appVersion,
        QString codeChallenge, QString redirectURI, QString state)>
        startNativeAuth;
    std::function<QCoro::Task<NativeAuthTokenResponse>(
        QUrl baseURL, QUuid attemptID, QString code, QString codeVerifier, QString redirectURI)>
        exchangeNativeAuthToken;
    std::function<QCoro::Task<>(QUrl baseURL, QUuid attemptID)> cancelNativeAuth;
    std::function<QCoro::Task<ClientMeResponse>(QUrl baseURL, QString apiKey)> fetchMe;
    std::function<QCoro::Task<ClientConfigResponse>(QUrl baseURL, QString apiKey)> fetchClientConfig;
    std::function<QCoro::Task<DictationSessionRecoveryResponse>(QUrl baseURL, QString apiKey, QUuid sessionID)>
        fetchDictationRecovery;
    std::function<QCoro::Task<ClientUpdateResponse>(QUrl baseURL, QString currentVersion)> fetchMacOSUpdate;
    std::function<QCoro::Task<QString>(QUrl baseURL)> fetchHealth;

    // Forwards to client, which must outlive every copy.
    static CoordinatorCloud over(const CloudAPIClient& client);
};

// Breadcrumbs and error reports.
struct CoordinatorErrorReporting
{
    std::function<bool()> isStarted;
    std::function<void(const QString& category, const QString& message)> addBreadcrumb;
    std::function<void(std::exception_ptr error, const QString& context, const QMap<QString, QString>& extras)> capture;

    // The process's error monitoring.
    static CoordinatorErrorReporting errorMonitoring();
};

// Inserts a transcript as TextInsertionService::insert does, with its errors.
using TranscriptInserter = std::function<QCoro::Task<TextInsertionResult>(QString text, bool appendTrailingSpace,
    bool restoreClipboard, bool preferDirectTyping, FocusedInsertionTargetRef target, CancelToken token)>;

struct CoordinatorTiming
{
    Duration permissionRefreshInterval = std::chrono::milliseconds(500);
    Duration permissionRefreshTimeout = std::chrono::seconds(15);
    Duration sessionStartTimeout = std::chrono::seconds(10);
    Duration sessionErrorDisconnectGracePeriod = std::chrono::milliseconds(150);
    Duration stopCaptureGracePeriod = std::chrono::milliseconds(175);
    // How long a stopped session may take to complete before it is ended as failed.
    Duration sessionCompletionTimeout = std::chrono::seconds(30);
    // How long a start waits for the HUD to come on screen before it opens the microphone anyway.
    Duration hudShownTimeout = std::chrono::seconds(1);
    // How long the HUD tells why a dictation ended by a failure.
    Duration failureShownFor = std::chrono::milliseconds(2500);
};

// Shows the HUD for the phase just published and completes once it is on screen. The coordinator
// bounds the wait; cancelled through token, it may end with CancelledError.
using HUDShownHook = std::function<QCoro::Task<>(CancelToken token)>;

// Everything the coordinator reaches outside itself. live() builds it over the application's services;
// tests replace any member. Every member is required but pocWorkerSmokeSettingsProvider and hudShown.
struct CoordinatorServices
{
    std::shared_ptr<KeychainStore> keychain;
    CoordinatorCloud cloud;
    std::shared_ptr<PermissionService> permissions;
    TranscriptInserter insertTranscript;
    // What the focused-app diagnostics service reports now.
    std::function<std::optional<FocusedAppDiagnostics>()> currentDiagnostics;
    // The device list and its change notices come from here.
    std::shared_ptr<AudioSystem> audioSystem;
    // Puts text on the clipboard; false when the clipboard could not be taken.
    std::function<bool(const QString& text)> copyText;
    CoordinatorErrorReporting errorReporting;

    RecorderClient recorder;
    WebSocketTransportFactory webSocketFactory;
    std::function<FocusedInsertionTargetRef()> focusTargetProvider;
    // Opens a web or mail address; completes once the browser or mail program shows it or has failed.
    std::function<QCoro::Task<PlatformResult>(QUrl url, CancelToken token)> urlOpener;
    Sleeper* sleeper = nullptr;
    CoordinatorTiming timing;
    std::function<std::optional<POCWorkerSmokeSettings>()> pocWorkerSmokeSettingsProvider;
    // The application's HUD; without one a start does not wait for it.
    HUDShownHook hudShown;

    // The application's services, which must outlive the coordinator, and the default seams: a new
    // streaming connection per session, the focused application as the insertion target, urlOpener
    // for the URLs isOpenableExternalURL() allows, the real clock.
    static CoordinatorServices live(std::shared_ptr<KeychainStore> keychain, const CloudAPIClient& cloudAPI,
        std::shared_ptr<PermissionService> permissions, AudioCaptureService& recorder,
        std::shared_ptr<AudioSystem> audioSystem, TextInsertionService& textInsertion,
        std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService, std::shared_ptr<Clipboard> clipboard,
        std::shared_ptr<UrlOpener> urlOpener);
};

// Whether the URL opener may hand url to the desktop: https with a host, http on a loopback host
// (the local demo's sign-in page), or mailto.
bool isOpenableExternalURL(const QUrl& url);
// The default URL opener: opener for what isOpenableExternalURL() allows; anything else is logged and
// refused.
QCoro::Task<PlatformResult> openExternalURL(std::shared_ptr<UrlOpener> opener, QUrl url, CancelToken token);

} // namespace tessvale
