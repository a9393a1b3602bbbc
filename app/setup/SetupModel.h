#pragma once

#include <optional>

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include "audio/AudioInputDevice.h"
#include "coordinator/CoordinatorTypes.h"
#include "focus/FocusedAppDiagnostics.h"
#include "settings/AppSettings.h"
#include "system/PermissionState.h"

#include "windows/rows/PermissionText.h"

namespace tessvale {

class DictationCoordinator;
class LaunchAtLoginService;

// The state of one step of the first-dictation checklist.
enum class OnboardingStepState {
    pending,
    current,
    complete,
};

enum class SetupTint {
    secondary,
    orange,
    green,
    red,
    blue,
};

// Everything the setup window reads from the coordinator, the settings and the login item, as plain
// values.
struct SetupInput
{
    DictationPhase phase = DictationPhase::signedOut;
    bool isAuthenticated = false;
    // The signed-in account's e-mail once its record has loaded.
    std::optional<QString> accountEmail;
    // Present while a browser sign-in is open.
    std::optional<QUuid> signInAttemptID;
    bool signInUsesLoopback = false;
    QUrl signInAddress;
    PermissionSnapshot permissions;
    QString statusTitle;
    QString usageSummaryText;
    QString displayErrorText;
    bool canRetryFailedInsertion = false;
    std::optional<QString> latestTranscriptText;
    QList<AudioInputDevice> availableInputDevices;
    std::optional<FocusedAppDiagnostics> focusedAppDiagnostics;
    QList<ActivityLogEntry> activityLog;
    QString lastHealthCheck;
    QString lastShortcutError;

    AppSettings::LaunchReadinessState launchReadiness = AppSettings::LaunchReadinessState::notStarted;
    QString deviceName;
    QString preferredMicrophoneUID;
    QString pushToTalkLabel;
    QString handsFreeLabel;
    bool restoreClipboard = true;
    bool appendTrailingSpace = false;
    bool restoreOriginalInput = true;
    bool preferDirectTyping = false;

    bool launchAtLoginEnabled = false;
    QString launchAtLoginStatus = QStringLiteral("Disabled");
    QString launchAtLoginError;

    QString supportEmailAddress;

    bool browserSignInOpen() const { return signInAttemptID.has_value(); }

    static SetupInput from(const AppSettings& settings, const DictationCoordinator& coordinator,
        const LaunchAtLoginService& launchAtLogin);
};

// What a button of the window calls; each is one operation.
enum class SetupAction {
    beginSignIn,
    reopenBrowserSignIn,
    cancelSignIn,
    signOut,
    promptForMicrophone,
    promptForAccessibility,
    toggleRecording,
    stopDictation,
    retryFailedInsertion,
    copyLatestTranscript,
    dismissLaunchReadiness,
    runConnectivityCheck,
    openSupportEmail,
};

// The sections of the window, top to bottom, when present.
enum class SetupSection {
    hero,
    errorBanner,
    browserSignIn,
    getStarted,
    checklist,
    readyCard,
    latestTranscript,
    shortcuts,
    permissions,
    preferences,
    personalTerms,
    troubleshooting,
};

struct SetupBadge
{
    QString title;
    SetupTint tint = SetupTint::blue;
    friend bool operator==(const SetupBadge&, const SetupBadge&) = default;
};

struct SetupLabelValue
{
    QString label;
    QString value;
    friend bool operator==(const SetupLabelValue&, const SetupLabelValue&) = default;
};

struct SetupButton
{
    QString title;
    SetupAction action = SetupAction::toggleRecording;
    bool enabled = true;
    friend bool operator==(const SetupButton&, const SetupButton&) = default;
};

struct SetupStep
{
    QString title;
    QString detail;
    OnboardingStepState state = OnboardingStepState::pending;
    friend bool operator==(const SetupStep&, const SetupStep&) = default;
};

struct SetupMicrophoneOption
{
    QString label;
    QString uid;
    friend bool operator==(const SetupMicrophoneOption&, const SetupMicrophoneOption&) = default;
};

struct SetupActivityRow
{
    QString time;
    QString message;
    friend bool operator==(const SetupActivityRow&, const SetupActivityRow&) = default;
};

// The hero's status badges.
struct SetupHeroContent
{
    QList<SetupBadge> badges;
    friend bool operator==(const SetupHeroContent&, const SetupHeroContent&) = default;
};

struct SetupErrorBannerContent
{
    QString errorText;
    // The sign-in address under an error while a sign-in is open, to paste into a browser.
    QString errorSignInAddress;
    bool showsRetryInsert = false;
    friend bool operator==(const SetupErrorBannerContent&, const SetupErrorBannerContent&) = default;
};

struct SetupGetStartedContent
{
    QList<SetupLabelValue> summaryColumn1;
    QList<SetupLabelValue> summaryColumn2;
    SetupButton primary;
    bool showsCancel = false;
    bool showsSignOut = false;
    friend bool operator==(const SetupGetStartedContent&, const SetupGetStartedContent&) = default;
};

struct SetupChecklistContent
{
    QList<SetupStep> steps;
    SetupButton checklistButton;
    friend bool operator==(const SetupChecklistContent&, const SetupChecklistContent&) = default;
};

struct SetupReadyContent
{
    SetupButton runAnother;
    bool showsCopyLatestTranscript = false;
    friend bool operator==(const SetupReadyContent&, const SetupReadyContent&) = default;
};

struct SetupBrowserSignInContent
{
    QString signInAttempt;
    QString signInCallback;
    // The page to paste into a browser when none opened; empty without an open sign-in.
    QString signInAddress;
    friend bool operator==(const SetupBrowserSignInContent&, const SetupBrowserSignInContent&) = default;
};

struct SetupPermissionsContent
{
    PermissionState microphone = PermissionState::notDetermined;
    PermissionState accessibility = PermissionState::notDetermined;
    friend bool operator==(const SetupPermissionsContent&, const SetupPermissionsContent&) = default;
};

struct SetupPreferencesContent
{
    QList<SetupMicrophoneOption> microphoneOptions;
    // The option showing the stored microphone; -1 when the stored device is not listed now.
    int selectedMicrophone = 0;
    // The stored microphone, which the picker shows when it is listed.
    QString preferredMicrophoneUID;
    bool launchAtLoginOn = false;
    QString launchAtLoginSubtitle;
    bool restoreClipboard = true;
    bool appendTrailingSpace = false;
    bool restoreOriginalInput = true;
    friend bool operator==(const SetupPreferencesContent&, const SetupPreferencesContent&) = default;
};

struct SetupTroubleshootingContent
{
    QString deviceName;
    bool preferDirectTyping = false;
    QString healthCheck;
    // Present only with a focused-app reading.
    QList<SetupLabelValue> focusedApp;
    QList<SetupActivityRow> activity;
    QString launchAtLoginError;
    QString shortcutError;
    QString supportLinkText;
    friend bool operator==(const SetupTroubleshootingContent&, const SetupTroubleshootingContent&) = default;
};

// The window's sections and, for each card, the plain values it shows.
struct SetupContent
{
    QList<SetupSection> sections;

    SetupHeroContent hero;
    SetupErrorBannerContent errorBanner;
    SetupGetStartedContent getStarted;
    SetupChecklistContent checklist;
    SetupReadyContent readyCard;
    SetupBrowserSignInContent browserSignIn;
    QString latestTranscript;
    SetupPermissionsContent permissions;
    SetupPreferencesContent preferences;
    SetupTroubleshootingContent troubleshooting;

    bool has(SetupSection section) const { return sections.contains(section); }
    friend bool operator==(const SetupContent&, const SetupContent&) = default;
};

bool permissionsReady(const PermissionSnapshot& snapshot);
bool isDictationBusy(DictationPhase phase);

QString primaryStatusTitle(const SetupInput& input);
SetupButton primaryButton(const SetupInput& input);
SetupButton checklistButton(const SetupInput& input);
QList<SetupStep> checklistSteps(const SetupInput& input);

SetupTint permissionStateTint(PermissionState state);
// The step's symbol name and tint, and what a screen reader says for the symbol.
QString stepStateName(OnboardingStepState state);
QString stepSymbolName(OnboardingStepState state);
SetupTint stepTint(OnboardingStepState state);

QString activityTimeText(const QDateTime& timestamp);

SetupContent setupContent(const SetupInput& input);

// Runs one action on the services it belongs to; returns at once.
void performSetupAction(SetupAction action, AppSettings& settings, DictationCoordinator& coordinator);

} // namespace tessvale
