#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "audio/AudioInputDevice.h"
#include "coordinator/CoordinatorTypes.h"
#include "system/PermissionState.h"
#include "windows/rows/SettingsPickerRow.h"

#include "windows/rows/PermissionText.h"

namespace tessvale {

class AppSettings;
class DictationCoordinator;
class LaunchAtLoginService;

// What the Settings window reads from the settings store, the login-item service and the
// coordinator, as plain values.
struct SettingsInput
{
    QString preferredMicrophoneUID;
    bool restoreClipboard = true;
    bool appendTrailingSpace = false;
    bool restoreOriginalInputAfterDictation = true;
    bool preferDirectTyping = false;
    QString deviceName;

    bool launchAtLoginEnabled = false;
    QString launchAtLoginStatus;

    QList<AudioInputDevice> availableInputDevices;
    bool isAuthenticated = false;
    // The signed-in account's e-mail and device name, when the account record is loaded.
    std::optional<QString> accountEmail;
    QString accountDeviceName;
    bool browserSignInOpen = false;
    AppUpdateState appUpdateState;
    PermissionSnapshot permissionSnapshot;
    std::optional<QString> focusedAppSummary;
    QString appVersion;

    static SettingsInput from(const AppSettings& settings, const DictationCoordinator& coordinator,
        const LaunchAtLoginService& launchAtLogin);
};

// What the Account card shows below its status row.
enum class AccountDetail {
    account,
    waitingForBrowser,
    setupHint,
};

struct SettingsContent
{
    // General.
    QList<PickerOption> microphoneOptions;
    QString microphoneSelection;
    bool launchAtLoginChecked = false;
    QString launchAtLoginSubtitle;
    bool restoreClipboard = true;
    bool appendTrailingSpace = false;
    bool restoreOriginalInputAfterDictation = true;

    // Account.
    QString accountStatus;
    AccountDetail accountDetail = AccountDetail::setupHint;
    QString accountEmail;
    QString accountDeviceName;

    // Updates: the "Latest" row (empty for none), the status line, the release notes (empty for
    // none), the download button and the check button.
    QString installedVersion;
    bool showsLatest = false;
    QString latestVersion;
    QString updateStatus;
    QString releaseNotes;
    bool showsDownloadButton = false;
    QString checkButtonTitle;
    bool checkButtonEnabled = true;

    // Advanced.
    QString deviceName;
    bool preferDirectTyping = false;
    QString microphonePermission;
    QString accessibilityPermission;
    QString focusedApp;

    friend bool operator==(const SettingsContent&, const SettingsContent&) = default;
};

SettingsContent settingsContent(const SettingsInput& input);

} // namespace tessvale
