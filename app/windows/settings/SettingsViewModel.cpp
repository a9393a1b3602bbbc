#include "windows/settings/SettingsViewModel.h"

#include "coordinator/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "system/LaunchAtLoginService.h"

namespace tessvale {

SettingsInput SettingsInput::from(
    const AppSettings& settings, const DictationCoordinator& coordinator, const LaunchAtLoginService& launchAtLogin)
{
    SettingsInput input;
    input.preferredMicrophoneUID = settings.preferredMicrophoneUID();
    input.restoreClipboard = settings.restoreClipboard();
    input.appendTrailingSpace = settings.appendTrailingSpace();
    input.restoreOriginalInputAfterDictation = settings.restoreOriginalInputAfterDictation();
    input.preferDirectTyping = settings.preferDirectTyping();
    input.deviceName = settings.deviceName();
    input.launchAtLoginEnabled = launchAtLogin.isEnabled();
    input.launchAtLoginStatus = launchAtLogin.statusDescription();
    input.availableInputDevices = coordinator.availableInputDevices();
    input.isAuthenticated = coordinator.isAuthenticated();
    if (const auto& me = coordinator.me()) {
        input.accountEmail = me->user.email;
        input.accountDeviceName = me->device.name;
    }
    input.browserSignInOpen = coordinator.browserSignIn().has_value();
    input.appUpdateState = coordinator.appUpdateState();
    input.permissionSnapshot = coordinator.permissionSnapshot();
    if (const auto& diagnostics = coordinator.focusedAppDiagnostics())
        input.focusedAppSummary = diagnostics->summary();
    input.appVersion = DictationCoordinator::appVersion();
    return input;
}

namespace {

void applyUpdateState(const AppUpdateState& state, SettingsContent& content)
{
    using Case = AppUpdateState::Case;
    switch (state.updateCase()) {
    case Case::idle:
        content.updateStatus = QStringLiteral("Check whether a new version is available.");
        break;
    case Case::checking:
        content.updateStatus = QStringLiteral("Checking for updates...");
        break;
    case Case::upToDate:
        content.showsLatest = true;
        content.latestVersion = state.update() ? state.update()->latestVersion : QString();
        content.updateStatus = QStringLiteral("This computer is already on the latest available build.");
        break;
    case Case::available:
        content.showsLatest = true;
        content.latestVersion = state.update() ? state.update()->latestVersion : QString();
        content.updateStatus = QStringLiteral("A new version is available to download.");
        if (state.update() && state.update()->releaseNotes)
            content.releaseNotes = *state.update()->releaseNotes;
        content.showsDownloadButton = true;
        break;
    case Case::failed:
        content.updateStatus = QStringLiteral("Update check failed: ") + state.failureMessage();
        break;
    case Case::unavailable:
        content.updateStatus = QStringLiteral("Update checks are unavailable for this cloud environment.");
        break;
    }
    const bool checking = state.updateCase() == Case::checking;
    content.checkButtonTitle = checking ? QStringLiteral("Checking...") : QStringLiteral("Check for Updates");
    content.checkButtonEnabled = !checking;
}

} // namespace

SettingsContent settingsContent(const SettingsInput& input)
{
    SettingsContent content;
    content.microphoneOptions.append({ QStringLiteral("Default microphone"), QString() });
    for (const AudioInputDevice& device : input.availableInputDevices)
        content.microphoneOptions.append({ device.name, device.uid });
    content.microphoneSelection = input.preferredMicrophoneUID;
    content.launchAtLoginChecked = input.launchAtLoginEnabled;
    content.launchAtLoginSubtitle = input.launchAtLoginStatus;
    content.restoreClipboard = input.restoreClipboard;
    content.appendTrailingSpace = input.appendTrailingSpace;
    content.restoreOriginalInputAfterDictation = input.restoreOriginalInputAfterDictation;

    // The status follows the sign-in, the rows below it the account record: the two can differ.
    content.accountStatus = input.isAuthenticated ? QStringLiteral("Signed in") : QStringLiteral("Not signed in");
    if (input.accountEmail) {
        content.accountDetail = AccountDetail::account;
        content.accountEmail = *input.accountEmail;
        content.accountDeviceName = input.accountDeviceName;
    } else if (input.browserSignInOpen) {
        content.accountDetail = AccountDetail::waitingForBrowser;
    } else {
        content.accountDetail = AccountDetail::setupHint;
    }

    content.installedVersion = input.appVersion;
    applyUpdateState(input.appUpdateState, content);

    content.deviceName = input.deviceName;
    content.preferDirectTyping = input.preferDirectTyping;
    content.microphonePermission = permissionStateText(input.permissionSnapshot.microphone);
    content.accessibilityPermission = permissionStateText(input.permissionSnapshot.accessibility);
    content.focusedApp = input.focusedAppSummary.value_or(QStringLiteral("Unavailable"));
    return content;
}

} // namespace tessvale
