#include "system/PermissionService.h"

#include <atomic>

#include "base/Logging.h"
#include "platform/system/AccessibilityTrust.h"
#include "platform/system/SystemSettingsOpener.h"

namespace tessvale {

namespace {

QCoro::Task<bool> checkMicrophoneAccess(std::shared_ptr<MicrophoneAuthorizer> microphone)
{
    // Nothing to ask on Linux: access is granted exactly when the sound server offers an input.
    co_return microphone->check() == MicrophoneAuthorizationStatus::authorized;
}

// Logs the reason for a denied trust once per change, not on every poll.
bool checkAccessibilityTrust(AccessibilityTrust& trust)
{
    static std::atomic<int> lastLogged { -1 };
    QString reason;
    const bool trusted = trust.isTrusted(&reason);
    if (lastLogged.exchange(trusted ? 1 : 0) != (trusted ? 1 : 0)) {
        if (trusted)
            qCInfo(lcPermissions) << "Accessibility available: X11 with XInput2 and XTest.";
        else
            qCInfo(lcPermissions).noquote() << "Accessibility unavailable:" << reason;
    }
    return trusted;
}

} // namespace

PermissionService::PermissionService(Operations operations)
    : microphoneAuthorizationStatus(std::move(operations.microphoneAuthorizationStatus))
    , accessibilityIsTrusted(std::move(operations.accessibilityIsTrusted))
    , requestMicrophoneAccessHandler(std::move(operations.requestMicrophoneAccessHandler))
    , promptForAccessibilityHandler(std::move(operations.promptForAccessibilityHandler))
    , openURLHandler(std::move(operations.openURLHandler))
{
}

PermissionService::Operations PermissionService::systemOperations(std::shared_ptr<MicrophoneAuthorizer> microphone,
    std::shared_ptr<SystemSettingsOpener> settings, std::shared_ptr<AccessibilityTrust> accessibilityTrust)
{
    Operations operations;
    operations.microphoneAuthorizationStatus = [microphone] { return microphone->check(); };
    operations.accessibilityIsTrusted = [accessibilityTrust] { return checkAccessibilityTrust(*accessibilityTrust); };
    operations.requestMicrophoneAccessHandler = [microphone] { return checkMicrophoneAccess(microphone); };
    // There is no trust prompt on X11; the closest help is the desktop's accessibility panel. The
    // opener logs why a page did not open; the permission's own state is what the user is shown.
    operations.promptForAccessibilityHandler = [settings] { static_cast<void>(settings->openAccessibilitySettings()); };
    operations.openURLHandler = [settings](const QUrl& url) {
        if (url == QUrl(microphonePrivacySettingsURLText()))
            static_cast<void>(settings->openSoundSettings());
        else
            static_cast<void>(settings->openUrl(url));
    };
    return operations;
}

QString PermissionService::microphonePrivacySettingsURLText()
{
    return QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
}

PermissionState permissionState(MicrophoneAuthorizationStatus status)
{
    switch (status) {
    case MicrophoneAuthorizationStatus::authorized:
        return PermissionState::authorized;
    case MicrophoneAuthorizationStatus::notDetermined:
        return PermissionState::notDetermined;
    case MicrophoneAuthorizationStatus::restricted:
    case MicrophoneAuthorizationStatus::denied:
        break;
    }
    return PermissionState::denied;
}

PermissionState PermissionService::microphoneState() const
{
    return permissionState(microphoneAuthorizationStatus());
}

PermissionState PermissionService::accessibilityState() const
{
    return accessibilityIsTrusted() ? PermissionState::authorized : PermissionState::denied;
}

PermissionSnapshot PermissionService::currentSnapshot() const
{
    PermissionSnapshot snapshot;
    snapshot.microphone = microphoneState();
    snapshot.accessibility = accessibilityState();
    return snapshot;
}

void PermissionService::promptForAccessibilityIfNeeded() const
{
    if (!accessibilityIsTrusted())
        promptForAccessibilityHandler();
}

QCoro::Task<bool> PermissionService::requestMicrophoneAccess() const
{
    QCoro::Task<bool> asking = requestMicrophoneAccessHandler();
    const bool granted = co_await std::move(asking);
    co_return granted;
}

void PermissionService::openMicrophonePrivacySettings() const
{
    const QUrl url(microphonePrivacySettingsURLText(), QUrl::StrictMode);
    if (!url.isValid())
        return;
    openURLHandler(url);
}

} // namespace tessvale
