#include "setup/SetupModel.h"

#include <QLocale>

#include "coordinator/DictationCoordinator.h"
#include "system/LaunchAtLoginService.h"

namespace tessvale {

namespace {

using Readiness = AppSettings::LaunchReadinessState;

bool isRunning(DictationPhase phase)
{
    return phase == DictationPhase::starting || phase == DictationPhase::recording;
}

bool isAuthorized(PermissionState state)
{
    return state == PermissionState::authorized;
}

SetupTint phaseTint(DictationPhase phase)
{
    switch (phase) {
    case DictationPhase::signedOut:
        return SetupTint::orange;
    case DictationPhase::ready:
        return SetupTint::green;
    case DictationPhase::error:
        return SetupTint::red;
    default:
        return SetupTint::blue;
    }
}

QString connectDetail(const SetupInput& input)
{
    if (input.accountEmail)
        return QStringLiteral("Connected as ") + *input.accountEmail + QLatin1Char('.');
    if (input.browserSignInOpen())
        return QStringLiteral("Browser sign-in is in progress for this computer.");
    return QStringLiteral("Sign in once in your browser so this computer gets its own device authorization.");
}

QString permissionsDetail(const PermissionSnapshot& permissions)
{
    if (permissionsReady(permissions))
        return QStringLiteral("Microphone and accessibility permissions are both ready.");
    if (isAuthorized(permissions.microphone))
        return QStringLiteral("Grant accessibility access so Tessvale can place text back into the focused app.");
    if (isAuthorized(permissions.accessibility))
        return QStringLiteral("Grant microphone access so Tessvale can capture your speech.");
    return QStringLiteral("Grant microphone access for recording and accessibility access for text insertion.");
}

QString microphoneSummary(const SetupInput& input)
{
    if (!input.preferredMicrophoneUID.isEmpty()) {
        for (const AudioInputDevice& device : input.availableInputDevices) {
            if (device.uid == input.preferredMicrophoneUID)
                return device.name;
        }
    }
    return QStringLiteral("Default microphone");
}

QString supportedText(bool supported)
{
    return supported ? QStringLiteral("Supported") : QStringLiteral("Unavailable");
}

} // namespace

SetupInput SetupInput::from(
    const AppSettings& settings, const DictationCoordinator& coordinator, const LaunchAtLoginService& launchAtLogin)
{
    SetupInput input;
    input.phase = coordinator.phase();
    input.isAuthenticated = coordinator.isAuthenticated();
    if (coordinator.me())
        input.accountEmail = coordinator.me()->user.email;
    if (const auto& signIn = coordinator.browserSignIn()) {
        input.signInAttemptID = signIn->attemptID();
        input.signInUsesLoopback = signIn->usesLoopbackCallback();
        input.signInAddress = signIn->authorizationURL();
    }
    input.permissions = coordinator.permissionSnapshot();
    input.statusTitle = coordinator.statusTitle();
    input.usageSummaryText = coordinator.usageSummaryText();
    input.displayErrorText = coordinator.displayErrorText();
    // Settings that cannot be kept stay in view when a later success clears the last error.
    if (input.displayErrorText.isEmpty())
        input.displayErrorText = settings.storeProblem();
    input.canRetryFailedInsertion = coordinator.canRetryFailedInsertion();
    input.latestTranscriptText = coordinator.latestTranscriptText();
    input.availableInputDevices = coordinator.availableInputDevices();
    input.focusedAppDiagnostics = coordinator.focusedAppDiagnostics();
    input.activityLog = coordinator.activityLog();
    input.lastHealthCheck = coordinator.lastHealthCheck();
    input.lastShortcutError = coordinator.lastShortcutError();

    input.launchReadiness = settings.launchReadinessState(input.accountEmail);
    input.deviceName = settings.deviceName();
    input.preferredMicrophoneUID = settings.preferredMicrophoneUID();
    input.pushToTalkLabel = settings.pushToTalkShortcut().displayLabel();
    input.handsFreeLabel = settings.handsFreeToggleShortcut().displayLabel();
    input.restoreClipboard = settings.restoreClipboard();
    input.appendTrailingSpace = settings.appendTrailingSpace();
    input.restoreOriginalInput = settings.restoreOriginalInputAfterDictation();
    input.preferDirectTyping = settings.preferDirectTyping();

    input.launchAtLoginEnabled = launchAtLogin.isEnabled();
    input.launchAtLoginStatus = launchAtLogin.statusDescription();
    input.launchAtLoginError = launchAtLogin.lastError();
    input.supportEmailAddress = DictationCoordinator::supportEmailAddress();
    return input;
}

bool permissionsReady(const PermissionSnapshot& snapshot)
{
    return isAuthorized(snapshot.microphone) && isAuthorized(snapshot.accessibility);
}

bool isDictationBusy(DictationPhase phase)
{
    return phase == DictationPhase::finalizing || phase == DictationPhase::postProcessing
        || phase == DictationPhase::inserting;
}

QString primaryStatusTitle(const SetupInput& input)
{
    if (input.browserSignInOpen())
        return QStringLiteral("Browser sign-in");
    if (input.isAuthenticated)
        return input.statusTitle;
    return QStringLiteral("Setup required");
}

SetupButton primaryButton(const SetupInput& input)
{
    SetupButton button;
    button.enabled = !isDictationBusy(input.phase);
    if (input.browserSignInOpen())
        button.title = QStringLiteral("Open Browser Again");
    else if (isRunning(input.phase))
        button.title = QStringLiteral("Stop Dictation");
    else if (isDictationBusy(input.phase))
        button.title = QStringLiteral("Working…");
    else if (!input.isAuthenticated)
        button.title = QStringLiteral("Continue in Browser");
    else if (!isAuthorized(input.permissions.microphone))
        button.title = QStringLiteral("Grant Microphone Access");
    else if (!isAuthorized(input.permissions.accessibility))
        button.title = QStringLiteral("Grant Accessibility Access");
    else
        button.title = QStringLiteral("Start Dictation");

    // A button that reads "Stop Dictation" stops the dictation, whatever else is missing.
    if (input.browserSignInOpen())
        button.action = SetupAction::reopenBrowserSignIn;
    else if (isRunning(input.phase))
        button.action = SetupAction::stopDictation;
    else if (!input.isAuthenticated)
        button.action = SetupAction::beginSignIn;
    else if (!isAuthorized(input.permissions.microphone))
        button.action = SetupAction::promptForMicrophone;
    else if (!isAuthorized(input.permissions.accessibility))
        button.action = SetupAction::promptForAccessibility;
    else
        button.action = SetupAction::toggleRecording;
    return button;
}

SetupButton checklistButton(const SetupInput& input)
{
    SetupButton button;
    button.enabled = !isDictationBusy(input.phase);
    const bool signedIn = input.isAuthenticated;
    if (isRunning(input.phase))
        button.title = QStringLiteral("Stop Test Dictation");
    else if (isDictationBusy(input.phase))
        button.title = QStringLiteral("Working…");
    else if (signedIn && !isAuthorized(input.permissions.microphone))
        button.title = QStringLiteral("Grant Microphone Access");
    else if (signedIn && !isAuthorized(input.permissions.accessibility))
        button.title = QStringLiteral("Grant Accessibility Access");
    else if (signedIn)
        button.title = QStringLiteral("Start Test Dictation");
    else if (!input.browserSignInOpen())
        button.title = QStringLiteral("Connect Account");
    else
        button.title = QStringLiteral("Continue in Browser");

    // As with the primary button, "Stop Test Dictation" stops.
    if (isRunning(input.phase))
        button.action = SetupAction::stopDictation;
    else if (signedIn && !isAuthorized(input.permissions.microphone))
        button.action = SetupAction::promptForMicrophone;
    else if (signedIn && !isAuthorized(input.permissions.accessibility))
        button.action = SetupAction::promptForAccessibility;
    else if (signedIn)
        button.action = SetupAction::toggleRecording;
    else if (!input.browserSignInOpen())
        button.action = SetupAction::beginSignIn;
    else
        button.action = SetupAction::reopenBrowserSignIn;
    return button;
}

QList<SetupStep> checklistSteps(const SetupInput& input)
{
    const bool ready = permissionsReady(input.permissions);
    SetupStep connect { QStringLiteral("Connect this computer"), connectDetail(input),
        input.isAuthenticated ? OnboardingStepState::complete : OnboardingStepState::current };
    SetupStep permissions { QStringLiteral("Grant permissions"), permissionsDetail(input.permissions),
        ready                       ? OnboardingStepState::complete
            : input.isAuthenticated ? OnboardingStepState::current
                                    : OnboardingStepState::pending };
    const bool tested = input.launchReadiness == Readiness::completed || input.launchReadiness == Readiness::dismissed;
    SetupStep test { QStringLiteral("Run a test dictation"),
        isRunning(input.phase)
            ? QStringLiteral("Speak a sentence you would actually send, then stop dictation and confirm the text "
                             "comes back clean.")
            : QStringLiteral("Test with a text editor, chat, or documents. One polished result in a real app is the "
                             "fastest proof that setup is done."),
        tested                                 ? OnboardingStepState::complete
            : (input.isAuthenticated && ready) ? OnboardingStepState::current
                                               : OnboardingStepState::pending };
    return { connect, permissions, test };
}

SetupTint permissionStateTint(PermissionState state)
{
    switch (state) {
    case PermissionState::notDetermined:
        return SetupTint::orange;
    case PermissionState::denied:
        return SetupTint::red;
    case PermissionState::authorized:
        return SetupTint::green;
    }
    return SetupTint::secondary;
}

QString stepStateName(OnboardingStepState state)
{
    switch (state) {
    case OnboardingStepState::pending:
        return QStringLiteral("Not done yet");
    case OnboardingStepState::current:
        return QStringLiteral("Current step");
    case OnboardingStepState::complete:
        return QStringLiteral("Done");
    }
    return {};
}

QString stepSymbolName(OnboardingStepState state)
{
    switch (state) {
    case OnboardingStepState::pending:
        return QStringLiteral("circle");
    case OnboardingStepState::current:
        return QStringLiteral("arrow.right.circle.fill");
    case OnboardingStepState::complete:
        return QStringLiteral("checkmark.circle.fill");
    }
    return {};
}

SetupTint stepTint(OnboardingStepState state)
{
    switch (state) {
    case OnboardingStepState::pending:
        return SetupTint::secondary;
    case OnboardingStepState::current:
        return SetupTint::blue;
    case OnboardingStepState::complete:
        return SetupTint::green;
    }
    return SetupTint::secondary;
}

QString activityTimeText(const QDateTime& timestamp)
{
    // The locale's long time format, without its time zone.
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale().toString(timestamp.toLocalTime().time(), format.trimmed());
}

namespace {

bool showsChecklist(const SetupInput& input)
{
    return input.launchReadiness == Readiness::notStarted || input.launchReadiness == Readiness::inProgress;
}

bool showsReadyCard(const SetupInput& input)
{
    return input.launchReadiness == Readiness::completed;
}

QList<SetupSection> setupSections(const SetupInput& input)
{
    QList<SetupSection> sections { SetupSection::hero };
    if (!input.displayErrorText.isEmpty())
        sections.append(SetupSection::errorBanner);
    // A waiting sign-in comes first, so its address shows without scrolling.
    if (input.browserSignInOpen())
        sections.append(SetupSection::browserSignIn);
    sections.append(SetupSection::getStarted);
    if (showsChecklist(input))
        sections.append(SetupSection::checklist);
    if (showsReadyCard(input))
        sections.append(SetupSection::readyCard);
    if (showsReadyCard(input) && input.latestTranscriptText)
        sections.append(SetupSection::latestTranscript);
    for (SetupSection section : { SetupSection::shortcuts, SetupSection::permissions, SetupSection::preferences,
             SetupSection::personalTerms, SetupSection::troubleshooting })
        sections.append(section);
    return sections;
}

SetupHeroContent heroContent(const SetupInput& input)
{
    SetupHeroContent content;
    content.badges.append({ primaryStatusTitle(input), phaseTint(input.phase) });
    if (input.isAuthenticated && input.accountEmail)
        content.badges.append({ *input.accountEmail, SetupTint::blue });
    else if (input.browserSignInOpen())
        content.badges.append({ QStringLiteral("Waiting for browser"), SetupTint::orange });
    return content;
}

SetupGetStartedContent getStartedContent(const SetupInput& input)
{
    SetupGetStartedContent content;
    const QString account = input.accountEmail ? *input.accountEmail
        : input.browserSignInOpen()            ? QStringLiteral("Browser sign-in in progress")
                                               : QStringLiteral("Not signed in");
    content.summaryColumn1 = {
        { QStringLiteral("Account"), account },
        { QStringLiteral("Device"), input.deviceName },
        { QStringLiteral("Microphone"), microphoneSummary(input) },
        { QStringLiteral("Push to Talk"), input.pushToTalkLabel },
        { QStringLiteral("Hands-Free"), input.handsFreeLabel },
    };
    content.summaryColumn2 = {
        { QStringLiteral("Dictation"), input.statusTitle },
        { QStringLiteral("Launch at login"),
            input.launchAtLoginEnabled ? QStringLiteral("Enabled") : QStringLiteral("Disabled") },
    };
    if (!input.usageSummaryText.isEmpty())
        content.summaryColumn2.append({ QStringLiteral("Usage"), input.usageSummaryText });
    content.primary = primaryButton(input);
    content.showsCancel = input.browserSignInOpen();
    content.showsSignOut = input.isAuthenticated;
    return content;
}

SetupBrowserSignInContent browserSignInContent(const SetupInput& input)
{
    SetupBrowserSignInContent content;
    if (input.signInAttemptID) {
        content.signInAttempt = input.signInAttemptID->toString(QUuid::WithoutBraces).toUpper();
        content.signInCallback
            = input.signInUsesLoopback ? QStringLiteral("Loopback (Debug)") : QStringLiteral("App callback");
        content.signInAddress = input.signInAddress.toString();
    }
    return content;
}

SetupPreferencesContent preferencesContent(const SetupInput& input)
{
    SetupPreferencesContent content;
    content.microphoneOptions.append({ QStringLiteral("Default microphone"), QString() });
    content.selectedMicrophone = input.preferredMicrophoneUID.isEmpty() ? 0 : -1;
    for (const AudioInputDevice& device : input.availableInputDevices) {
        if (content.selectedMicrophone < 0 && device.uid == input.preferredMicrophoneUID)
            content.selectedMicrophone = int(content.microphoneOptions.size());
        content.microphoneOptions.append({ device.name, device.uid });
    }
    content.preferredMicrophoneUID = input.preferredMicrophoneUID;
    content.launchAtLoginOn = input.launchAtLoginEnabled;
    content.launchAtLoginSubtitle = input.launchAtLoginStatus;
    content.restoreClipboard = input.restoreClipboard;
    content.appendTrailingSpace = input.appendTrailingSpace;
    content.restoreOriginalInput = input.restoreOriginalInput;
    return content;
}

SetupTroubleshootingContent troubleshootingContent(const SetupInput& input)
{
    SetupTroubleshootingContent content;
    content.deviceName = input.deviceName;
    content.preferDirectTyping = input.preferDirectTyping;
    content.healthCheck = input.lastHealthCheck;
    if (const auto& app = input.focusedAppDiagnostics) {
        content.focusedApp = {
            { QStringLiteral("App"), app->appName },
            { QStringLiteral("Bundle ID"), app->bundleIdentifier.value_or(QStringLiteral("unknown")) },
            { QStringLiteral("Role"), app->role.value_or(QStringLiteral("unknown")) },
            { QStringLiteral("Selected text"), supportedText(app->canSetSelectedText) },
            { QStringLiteral("Unicode typing"), supportedText(app->supportsUnicodeTypingFallback) },
        };
    }
    for (const ActivityLogEntry& entry : input.activityLog.mid(0, 6))
        content.activity.append({ activityTimeText(entry.timestamp), entry.message });
    content.launchAtLoginError = input.launchAtLoginError;
    content.shortcutError = input.lastShortcutError;
    content.supportLinkText = QStringLiteral("Email ") + input.supportEmailAddress;
    return content;
}

} // namespace

SetupContent setupContent(const SetupInput& input)
{
    SetupContent content;
    content.sections = setupSections(input);
    content.hero = heroContent(input);
    content.getStarted = getStartedContent(input);
    content.browserSignIn = browserSignInContent(input);

    content.errorBanner.errorText = input.displayErrorText;
    content.errorBanner.showsRetryInsert = input.canRetryFailedInsertion;
    if (!content.errorBanner.errorText.isEmpty())
        content.errorBanner.errorSignInAddress = content.browserSignIn.signInAddress;

    content.checklist.steps = checklistSteps(input);
    content.checklist.checklistButton = checklistButton(input);
    // The ready card's button runs the checklist's action under its own fixed title.
    content.readyCard.runAnother = content.checklist.checklistButton;
    content.readyCard.runAnother.title = QStringLiteral("Run Another Dictation");
    content.readyCard.showsCopyLatestTranscript = input.latestTranscriptText.has_value();
    if (showsReadyCard(input) && input.latestTranscriptText)
        content.latestTranscript = *input.latestTranscriptText;

    content.permissions.microphone = input.permissions.microphone;
    content.permissions.accessibility = input.permissions.accessibility;
    content.preferences = preferencesContent(input);
    content.troubleshooting = troubleshootingContent(input);
    return content;
}

void performSetupAction(SetupAction action, AppSettings& settings, DictationCoordinator& coordinator)
{
    switch (action) {
    case SetupAction::beginSignIn:
        coordinator.beginSignIn();
        return;
    case SetupAction::reopenBrowserSignIn:
        coordinator.reopenBrowserSignIn();
        return;
    case SetupAction::cancelSignIn:
        coordinator.cancelSignIn();
        return;
    case SetupAction::signOut:
        coordinator.signOut();
        return;
    case SetupAction::promptForMicrophone:
        coordinator.promptForMicrophone();
        return;
    case SetupAction::promptForAccessibility:
        coordinator.promptForAccessibility();
        return;
    case SetupAction::toggleRecording:
        coordinator.toggleRecording();
        return;
    case SetupAction::stopDictation:
        coordinator.stopDictation();
        return;
    case SetupAction::retryFailedInsertion:
        coordinator.retryFailedInsertion();
        return;
    case SetupAction::copyLatestTranscript:
        coordinator.copyLatestTranscript();
        return;
    case SetupAction::dismissLaunchReadiness: {
        std::optional<QString> email;
        if (coordinator.me())
            email = coordinator.me()->user.email;
        settings.dismissLaunchReadiness(email);
        return;
    }
    case SetupAction::runConnectivityCheck:
        coordinator.runConnectivityCheck();
        return;
    case SetupAction::openSupportEmail:
        coordinator.openSupportEmail();
        return;
    }
}

} // namespace tessvale
