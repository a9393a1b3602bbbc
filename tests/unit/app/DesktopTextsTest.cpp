#include <gtest/gtest.h>

#include <QStringList>

#include "coordinator/DictationPresentation.h"
#include "menu/MenuBarContentModel.h"
#include "settings/AppSettings.h"
#include "setup/SetupModel.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "windows/settings/SettingsViewModel.h"
#include "windows/shortcuts/ShortcutEditorModel.h"

using namespace tessvale;

namespace {

// Every text the menu, the HUD, the setup and Settings windows and the coordinator's presentation show
// for one state.
QStringList shownTexts(const DictationPresentation& state, AppSettings::LaunchReadinessState readiness)
{
    QStringList texts { state.statusTitle(), state.displayErrorText(), state.detailText(), state.hudTitle(),
        state.hudSubtitle() };
    const QString deviceName = QString(AppSettings::fallbackDeviceName);

    MenuBarContentInput menu;
    menu.isAuthenticated = state.isAuthenticated;
    menu.phase = state.phase;
    menu.displayErrorText = state.displayErrorText();
    menu.canRetryFailedInsertion = state.canRetryFailedInsertion();
    menu.hasLatestTranscript = state.latestTranscriptText().has_value();
    menu.browserSignInOpen = state.browserSignIn.has_value();
    menu.appUpdateState = state.appUpdateState;
    menu.statusTitle = state.statusTitle();
    for (const MenuRow& row : menuBarContent(menu).rows)
        texts << row.title << row.detail << row.badge;

    SetupInput setup;
    setup.phase = state.phase;
    setup.isAuthenticated = state.isAuthenticated;
    if (state.me)
        setup.accountEmail = state.me->user.email;
    if (state.browserSignIn) {
        setup.signInAttemptID = state.browserSignIn->attemptID();
        setup.signInAddress = state.browserSignIn->authorizationURL();
    }
    setup.statusTitle = state.statusTitle();
    setup.displayErrorText = state.displayErrorText();
    setup.canRetryFailedInsertion = state.canRetryFailedInsertion();
    setup.latestTranscriptText = state.latestTranscriptText();
    setup.launchReadiness = readiness;
    setup.deviceName = deviceName;
    setup.pushToTalkLabel = ShortcutBinding::defaultPushToTalk.displayLabel();
    setup.handsFreeLabel = ShortcutBinding::defaultHandsFreeToggle.displayLabel();
    const SetupContent content = setupContent(setup);
    for (const SetupBadge& badge : content.hero.badges)
        texts << badge.title;
    for (const SetupLabelValue& row :
        content.getStarted.summaryColumn1 + content.getStarted.summaryColumn2 + content.troubleshooting.focusedApp)
        texts << row.label << row.value;
    for (const SetupStep& step : content.checklist.steps)
        texts << step.title << step.detail;
    texts << content.errorBanner.errorText << content.getStarted.primary.title
          << content.checklist.checklistButton.title << content.readyCard.runAnother.title
          << content.browserSignIn.signInCallback << content.preferences.launchAtLoginSubtitle
          << content.troubleshooting.supportLinkText;

    SettingsInput settings;
    settings.deviceName = deviceName;
    settings.isAuthenticated = state.isAuthenticated;
    if (state.me)
        settings.accountEmail = state.me->user.email;
    settings.browserSignInOpen = state.browserSignIn.has_value();
    settings.appUpdateState = state.appUpdateState;
    const SettingsContent shown = settingsContent(settings);
    texts << shown.accountStatus << shown.launchAtLoginSubtitle << shown.updateStatus << shown.checkButtonTitle
          << shown.microphonePermission << shown.accessibilityPermission << shown.focusedApp << shown.deviceName;

    const ShortcutCardModel shortcuts
        = shortcutCardModel(ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle, QString());
    texts << shortcuts.detail << shortcuts.pushToTalk.subtitle << shortcuts.handsFree.subtitle << shortcuts.helpText;
    return texts;
}

} // namespace

TEST(DesktopTexts, NoShownTextNamesTheMac)
{
    using Phase = DictationPhase;
    using Readiness = AppSettings::LaunchReadinessState;
    const ClientUpdateResponse latest = CoordinatorHarness::sampleUpdate(false);
    const ClientUpdateResponse offer = CoordinatorHarness::sampleUpdate(true, QStringLiteral("2.1.0"));
    const NativeAuthStartResponse start = CoordinatorHarness::sampleStart();
    const QList<AppUpdateState> updates { AppUpdateState::idle(), AppUpdateState::checking(),
        AppUpdateState::upToDate(latest), AppUpdateState::available(offer), AppUpdateState::unavailable(),
        AppUpdateState::failed(QStringLiteral("Cloud request failed (500): Down")) };

    int states = 0;
    for (Phase phase : { Phase::signedOut, Phase::ready, Phase::starting, Phase::recording, Phase::finalizing,
             Phase::postProcessing, Phase::inserting, Phase::error }) {
        for (int variant = 0; variant < 8; ++variant) {
            DictationPresentation state;
            state.phase = phase;
            state.isAuthenticated = variant & 1;
            if (state.isAuthenticated)
                state.me = CoordinatorHarness::sampleMe();
            else if (variant & 2)
                state.browserSignIn = BrowserSignInState(start.attemptID, start.authorizationURL, false);
            state.hasPendingInsertionRetry = variant & 4;
            state.lastError = variant & 4 ? QStringLiteral("Insertion failed.") : QString();
            state.cloudBaseURL = QStringLiteral("https://tessvale.example");
            for (const AppUpdateState& update : updates) {
                state.appUpdateState = update;
                for (Readiness readiness :
                    { Readiness::notStarted, Readiness::inProgress, Readiness::completed, Readiness::dismissed }) {
                    ++states;
                    for (const QString& text : shownTexts(state, readiness)) {
                        EXPECT_FALSE(text.contains(QStringLiteral("Mac")) || text.contains(QStringLiteral("macOS")))
                            << caseName(phase).toStdString() << " variant " << variant << ": " << text.toStdString();
                    }
                }
            }
        }
    }
    EXPECT_EQ(states, 8 * 8 * 6 * 4);
}
