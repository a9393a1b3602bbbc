#include "coordinator/CoordinatorServices.h"

#include "base/Logging.h"
#include "cloud/CloudAPIClient.h"
#include "cloud/LoopbackHost.h"
#include "focus/FocusAppService.h"
#include "focus/FocusedAppDiagnosticsService.h"
#include "insertion/TextInsertionService.h"
#include "platform/insertion/Clipboard.h"
#include "system/ErrorMonitoring.h"
#include "system/PermissionService.h"

namespace tessvale {

CoordinatorCloud CoordinatorCloud::over(const CloudAPIClient& client)
{
    const CloudAPIClient* api = &client;
    CoordinatorCloud cloud;
    cloud.startNativeAuth = [api](QUrl baseURL, QString deviceName, QString appVersion, QString codeChallenge,
                                QString redirectURI, QString state) {
        return api->startNativeAuth(std::move(baseURL), std::move(deviceName), std::move(appVersion),
            std::move(codeChallenge), std::move(redirectURI), std::move(state));
    };
    cloud.exchangeNativeAuthToken
        = [api](QUrl baseURL, QUuid attemptID, QString code, QString codeVerifier, QString redirectURI) {
              return api->exchangeNativeAuthToken(
                  std::move(baseURL), attemptID, std::move(code), std::move(codeVerifier), std::move(redirectURI));
          };
    cloud.cancelNativeAuth
        = [api](QUrl baseURL, QUuid attemptID) { return api->cancelNativeAuth(std::move(baseURL), attemptID); };
    cloud.fetchMe = [api](QUrl baseURL, QString apiKey) { return api->fetchMe(std::move(baseURL), std::move(apiKey)); };
    cloud.fetchClientConfig
        = [api](QUrl baseURL, QString apiKey) { return api->fetchClientConfig(std::move(baseURL), std::move(apiKey)); };
    cloud.fetchDictationRecovery = [api](QUrl baseURL, QString apiKey, QUuid sessionID) {
        return api->fetchDictationRecovery(std::move(baseURL), std::move(apiKey), sessionID);
    };
    cloud.fetchMacOSUpdate = [api](QUrl baseURL, QString currentVersion) {
        return api->fetchMacOSUpdate(std::move(baseURL), std::move(currentVersion));
    };
    cloud.fetchHealth = [api](QUrl baseURL) { return api->fetchHealth(std::move(baseURL)); };
    return cloud;
}

CoordinatorErrorReporting CoordinatorErrorReporting::errorMonitoring()
{
    CoordinatorErrorReporting reporting;
    reporting.isStarted = [] { return ErrorMonitoring::isStarted(); };
    reporting.addBreadcrumb = [](const QString& category, const QString& message) {
        ErrorMonitoring::addBreadcrumb(category, message, {}, SentryLevel::info);
    };
    reporting.capture = [](std::exception_ptr error, const QString& context, const QMap<QString, QString>& extras) {
        ErrorMonitoring::capture(CapturedError::from(error), context, extras);
    };
    return reporting;
}

CoordinatorServices CoordinatorServices::live(std::shared_ptr<KeychainStore> keychain, const CloudAPIClient& cloudAPI,
    std::shared_ptr<PermissionService> permissions, AudioCaptureService& recorder,
    std::shared_ptr<AudioSystem> audioSystem, TextInsertionService& textInsertion,
    std::shared_ptr<FocusedAppDiagnosticsService> diagnosticsService, std::shared_ptr<Clipboard> clipboard,
    std::shared_ptr<UrlOpener> urlOpener)
{
    CoordinatorServices services;
    services.keychain = std::move(keychain);
    services.cloud = CoordinatorCloud::over(cloudAPI);
    services.permissions = std::move(permissions);
    TextInsertionService* insertion = &textInsertion;
    services.insertTranscript = [insertion](QString text, bool appendTrailingSpace, bool restoreClipboard,
                                    bool preferDirectTyping, FocusedInsertionTargetRef target, CancelToken token) {
        return insertion->insert(std::move(text), appendTrailingSpace, restoreClipboard, preferDirectTyping,
            std::move(target), std::move(token));
    };
    services.currentDiagnostics = [diagnosticsService] { return diagnosticsService->current(); };
    services.focusTargetProvider
        = [diagnosticsService] { return FocusAppService::currentInsertionTarget(*diagnosticsService); };
    services.audioSystem = std::move(audioSystem);
    services.copyText = [clipboard = std::move(clipboard)](const QString& text) {
        return clipboard->writeText(ClipboardSelection::clipboard, text).isOk();
    };
    services.errorReporting = CoordinatorErrorReporting::errorMonitoring();
    services.recorder = liveRecorderClient(recorder);
    services.webSocketFactory = cloudWebSocketTransportFactory();
    services.urlOpener = [opener = std::move(urlOpener)](QUrl url, CancelToken token) {
        return openExternalURL(opener, std::move(url), std::move(token));
    };
    services.sleeper = &Sleeper::system();
    services.pocWorkerSmokeSettingsProvider = [] { return std::optional<POCWorkerSmokeSettings>(); };
    return services;
}

bool isOpenableExternalURL(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    // A sign-in page on this computer (the local demo service's) may be plain http.
    if (scheme == QLatin1String("http"))
        return !url.host().isEmpty() && isLoopbackHost(url.host());
    return scheme == QLatin1String("mailto") && !url.path().isEmpty();
}

QCoro::Task<PlatformResult> openExternalURL(std::shared_ptr<UrlOpener> opener, QUrl url, CancelToken token)
{
    if (!isOpenableExternalURL(url)) {
        // The scheme alone: the rest may carry a code or a token.
        const QString scheme = url.scheme().isEmpty() ? QStringLiteral("(none)") : url.scheme();
        qCWarning(lcDictationCoordinator).noquote() << "Refused to open a URL with the scheme" << scheme;
        co_return PlatformResult::failed(QStringLiteral("a %1 address is not opened").arg(scheme));
    }
    QCoro::Task<PlatformResult> opening = opener->open(std::move(url), std::move(token));
    co_return co_await std::move(opening);
}

} // namespace tessvale
