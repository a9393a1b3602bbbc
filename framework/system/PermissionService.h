#pragma once

#include <functional>
#include <memory>

#include <QUrl>

#include <qcoro/qcorotask.h>

#include "platform/system/MicrophoneAuthorization.h"
#include "system/PermissionState.h"

namespace tessvale {

class AccessibilityTrust;
class MicrophoneAuthorizer;
class SystemSettingsOpener;

// Whether the application may record the microphone and observe and synthesize keyboard input,
// and the actions that help the user grant both. The five stored operations are the only points
// that touch the platform.
class PermissionService
{
public:
    struct Operations
    {
        std::function<MicrophoneAuthorizationStatus()> microphoneAuthorizationStatus;
        std::function<bool()> accessibilityIsTrusted;
        std::function<QCoro::Task<bool>()> requestMicrophoneAccessHandler;
        std::function<void()> promptForAccessibilityHandler;
        std::function<void(const QUrl&)> openURLHandler;
    };

    explicit PermissionService(Operations operations);
    // The operations over the desktop's own services: the sound server, the X server and its settings.
    static Operations systemOperations(std::shared_ptr<MicrophoneAuthorizer> microphone,
        std::shared_ptr<SystemSettingsOpener> settings, std::shared_ptr<AccessibilityTrust> accessibilityTrust);

    static QString microphonePrivacySettingsURLText();

    PermissionState microphoneState() const;
    PermissionState accessibilityState() const;
    PermissionSnapshot currentSnapshot() const;
    void promptForAccessibilityIfNeeded() const;
    QCoro::Task<bool> requestMicrophoneAccess() const;
    void openMicrophonePrivacySettings() const;

    const std::function<MicrophoneAuthorizationStatus()> microphoneAuthorizationStatus;
    const std::function<bool()> accessibilityIsTrusted;
    const std::function<QCoro::Task<bool>()> requestMicrophoneAccessHandler;
    const std::function<void()> promptForAccessibilityHandler;
    const std::function<void(const QUrl&)> openURLHandler;
};

PermissionState permissionState(MicrophoneAuthorizationStatus status);

} // namespace tessvale
