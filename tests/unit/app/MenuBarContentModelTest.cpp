#include <gtest/gtest.h>

#include "hud/DictationHUDModel.h"
#include "menu/MenuBarContentModel.h"
#include "settings/InMemoryUserDefaults.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

namespace {

MenuBarContentInput signedIn(DictationPhase phase)
{
    MenuBarContentInput input;
    input.isAuthenticated = true;
    input.phase = phase;
    input.statusTitle = QStringLiteral("Status of ") + caseName(phase);
    input.menuBarSymbolName = QStringLiteral("symbol.") + caseName(phase);
    return input;
}

QStringList titles(const MenuBarContent& content)
{
    QStringList result;
    for (const MenuRow& row : content.rows)
        result.append(row.kind == MenuRowKind::divider ? QStringLiteral("--") : row.title);
    return result;
}

const MenuRow* rowWith(const MenuBarContent& content, MenuCommand command)
{
    for (const MenuRow& row : content.rows) {
        if (row.command == command)
            return &row;
    }
    return nullptr;
}

const QString kPreferences = QStringLiteral("Preferences...");
const QStringList kCommands = { QStringLiteral("Copy Latest Transcript"), QStringLiteral("Settings..."), kPreferences,
    QStringLiteral("Check for Updates..."), QStringLiteral("Sign Out"), QStringLiteral("Quit Tessvale") };

} // namespace

TEST(MenuBarContentModel, SignedInStatusCardAndPrimaryActionFollowThePhase)
{
    struct Case
    {
        DictationPhase phase;
        const char* detail; // empty: no status card
        MenuTint tint;
        MenuCommand primary;
    };
    const Case cases[] = {
        { DictationPhase::ready, "", MenuTint::none, MenuCommand::toggleRecording },
        { DictationPhase::signedOut, "Use the setup window for sign-in, permissions, and shortcut setup.",
            MenuTint::orange, MenuCommand::toggleRecording },
        { DictationPhase::starting, "Dictation is active on this computer.", MenuTint::red,
            MenuCommand::stopDictation },
        { DictationPhase::recording, "Dictation is active on this computer.", MenuTint::red,
            MenuCommand::stopDictation },
        { DictationPhase::finalizing, "Wrapping up the current audio stream.", MenuTint::orange,
            MenuCommand::toggleRecording },
        { DictationPhase::postProcessing, "Polishing the transcript before insertion.", MenuTint::orange,
            MenuCommand::toggleRecording },
        { DictationPhase::inserting, "Sending text to the focused app.", MenuTint::orange,
            MenuCommand::toggleRecording },
        { DictationPhase::error, "Resolve the issue below before trying again.", MenuTint::red,
            MenuCommand::toggleRecording },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(caseName(c.phase).toStdString());
        MenuBarContentInput input = signedIn(c.phase);
        // Shown only while the dictation runs.
        input.partialTranscript = QStringLiteral("hello wor");
        const MenuBarContent content = menuBarContent(input);
        const bool running = c.primary == MenuCommand::stopDictation;
        const QString primary = running ? QStringLiteral("Stop Dictation") : QStringLiteral("Start Dictation");
        QStringList expected;
        if (*c.detail)
            expected << input.statusTitle;
        if (running)
            expected << input.partialTranscript;
        expected << primary << QStringLiteral("--") << kCommands;
        EXPECT_EQ(titles(content), expected);
        EXPECT_TRUE(content.signedIn);

        if (*c.detail) {
            const MenuRow& card = content.rows.first();
            EXPECT_EQ(card.kind, MenuRowKind::statusCard);
            EXPECT_EQ(card.symbol, input.menuBarSymbolName);
            EXPECT_EQ(card.detail, QString::fromUtf8(c.detail));
            EXPECT_EQ(card.tint, c.tint);
            // An open browser sign-in takes the card's texts; the tint stays the phase's.
            input.browserSignInOpen = true;
            const MenuRow signingIn = menuBarContent(input).rows.first();
            EXPECT_EQ(signingIn.title, QStringLiteral("Finish Sign-In"));
            EXPECT_EQ(signingIn.symbol, QStringLiteral("globe"));
            EXPECT_EQ(signingIn.detail,
                QStringLiteral("Complete the browser flow, then return here if you need to reopen the tab."));
            EXPECT_EQ(signingIn.tint, c.tint);
        }
        const MenuRow* button = rowWith(content, c.primary);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->kind, MenuRowKind::primaryButton);
        EXPECT_EQ(button->symbol, running ? QStringLiteral("stop.fill") : QStringLiteral("mic.fill"));
        EXPECT_EQ(button->tint, running ? MenuTint::red : MenuTint::accent);
        EXPECT_TRUE(button->enabled);
    }
}

TEST(MenuBarContentModel, UpdateRowReplacesTheCheckRow)
{
    ClientUpdateResponse update;
    update.latestVersion = QStringLiteral("2.4.1");
    update.updateAvailable = true;
    struct Case
    {
        AppUpdateState state;
        const char* checkTitle; // empty: the update row instead
        bool checkEnabled;
    };
    const Case cases[] = {
        { AppUpdateState::idle(), "Check for Updates...", true },
        { AppUpdateState::checking(), "Checking for Updates...", false },
        { AppUpdateState::upToDate(update), "Check for Updates...", true },
        { AppUpdateState::failed(QStringLiteral("offline")), "Check for Updates...", true },
        { AppUpdateState::unavailable(), "Check for Updates...", true },
        { AppUpdateState::available(update), "", true },
    };
    for (const Case& c : cases) {
        MenuBarContentInput input = signedIn(DictationPhase::ready);
        input.appUpdateState = c.state;
        const MenuBarContent content = menuBarContent(input);
        const MenuRow* check = rowWith(content, MenuCommand::checkForUpdates);
        const MenuRow* updateRow = rowWith(content, MenuCommand::openAvailableUpdate);
        if (*c.checkTitle) {
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(check->title, QString::fromUtf8(c.checkTitle));
            EXPECT_EQ(check->enabled, c.checkEnabled);
            EXPECT_EQ(updateRow, nullptr);
        } else {
            EXPECT_EQ(check, nullptr);
            ASSERT_NE(updateRow, nullptr);
            // First of the command rows, right after the divider.
            EXPECT_EQ(titles(content).indexOf(QStringLiteral("Update Available")),
                titles(content).indexOf(QStringLiteral("--")) + 1);
            EXPECT_EQ(updateRow->badge, QStringLiteral("v2.4.1"));
            EXPECT_EQ(updateRow->detail, QStringLiteral("Download the new version."));
        }
    }
}

TEST(MenuBarContentModel, ErrorBlockRetryAndCopyInBothLayouts)
{
    for (const bool authenticated : { true, false }) {
        for (const bool retry : { false, true }) {
            MenuBarContentInput input = signedIn(DictationPhase::error);
            input.isAuthenticated = authenticated;
            input.displayErrorText = QStringLiteral("Paste & go failed");
            input.canRetryFailedInsertion = retry;
            const MenuBarContent content = menuBarContent(input);
            const QStringList shown = titles(content);
            const qsizetype error = shown.indexOf(input.displayErrorText);
            ASSERT_GE(error, 0);
            EXPECT_EQ(content.rows[error].tint, MenuTint::red);
            EXPECT_EQ(content.rows[error].symbol, QStringLiteral("exclamationmark.triangle.fill"));
            EXPECT_EQ(shown.value(error + 1) == QStringLiteral("Retry Insert"), retry);
            EXPECT_EQ(rowWith(content, MenuCommand::retryFailedInsertion) != nullptr, retry);
            EXPECT_EQ(rowWith(content, MenuCommand::quit)->shortcut, QStringLiteral("Ctrl+Q"));
        }
    }
    MenuBarContentInput input = signedIn(DictationPhase::ready);
    EXPECT_FALSE(rowWith(menuBarContent(input), MenuCommand::copyLatestTranscript)->enabled);
    input.hasLatestTranscript = true;
    EXPECT_TRUE(rowWith(menuBarContent(input), MenuCommand::copyLatestTranscript)->enabled);
}

TEST(MenuBarContentModel, SignedOutLayoutSendsToSetupOrBackToTheBrowser)
{
    MenuBarContentInput input;
    MenuBarContent content = menuBarContent(input);
    EXPECT_FALSE(content.signedIn);
    EXPECT_EQ(
        titles(content), QStringList({ "Finish setup in the app", "Open Setup", "--", kPreferences, "Quit Tessvale" }));
    EXPECT_EQ(content.rows[0].symbol, QStringLiteral("person.crop.circle.badge.plus"));
    EXPECT_EQ(content.rows[0].tint, MenuTint::orange);
    EXPECT_EQ(rowWith(content, MenuCommand::showSetup)->symbol, QStringLiteral("slider.horizontal.3"));

    input.browserSignInOpen = true;
    content = menuBarContent(input);
    EXPECT_EQ(titles(content),
        QStringList({ "Continue sign-in in the app", "Open Setup", "Continue in Browser", "--", kPreferences,
            "Quit Tessvale" }));
    EXPECT_EQ(content.rows[0].symbol, QStringLiteral("globe"));
    EXPECT_EQ(rowWith(content, MenuCommand::reopenBrowserSignIn)->kind, MenuRowKind::secondaryButton);
}

TEST(MenuBarContentModel, ReadsTheCoordinatorAndItsStopEndsAHeldDictation)
{
    CoordinatorHarness h;
    h.prepareDictation();
    DictationCoordinator& coordinator = h.coordinator();
    DictationCoordinatorTestAccess::setSignedIn(coordinator, CoordinatorHarness::sampleMe());
    EXPECT_EQ(titles(menuBarContent(MenuBarContentInput::from(coordinator))),
        QStringList({ "Start Dictation", "--" }) + kCommands);

    h.openDictation(); // push-to-talk, still held
    ASSERT_EQ(coordinator.phase(), DictationPhase::recording);
    const MenuBarContentInput input = MenuBarContentInput::from(coordinator);
    EXPECT_EQ(input.menuBarSymbolName, coordinator.menuBarSymbolName());
    EXPECT_EQ(input.statusTitle, coordinator.statusTitle());
    const MenuRow* stop = rowWith(menuBarContent(input), MenuCommand::stopDictation);
    ASSERT_NE(stop, nullptr);
    int setups = 0;
    int quits = 0;
    performMenuCommand(
        *stop->command, coordinator, [&] { ++setups; }, [&] { ++quits; });
    h.settle();
    // Stopped, not turned into a hands-free dictation.
    EXPECT_EQ(coordinator.phase(), DictationPhase::finalizing);
    EXPECT_NE(coordinator.triggerMode(), DictationTriggerMode::handsFree);

    performMenuCommand(
        MenuCommand::showSetup, coordinator, [&] { ++setups; }, [&] { ++quits; });
    performMenuCommand(
        MenuCommand::quit, coordinator, [&] { ++setups; }, [&] { ++quits; });
    int preferences = 0;
    performMenuCommand(
        MenuCommand::showSettings, coordinator, [&] { ++setups; }, [&] { ++quits; }, [&] { ++preferences; });
    EXPECT_EQ(setups, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(preferences, 1);
}

// Settings that cannot be kept stay on the card, signed in or not, after a later success cleared the
// error that first said so.
TEST(MenuBarContentModel, SettingsThatCannotBeKeptStayOnTheCard)
{
    const QString problem = QStringLiteral("Settings cannot be saved: the file cannot be written.");
    for (const bool authenticated : { true, false }) {
        SCOPED_TRACE(authenticated);
        CoordinatorHarness h;
        DictationCoordinator& coordinator = h.coordinator();
        h.defaults().setProblem(problem);
        if (authenticated)
            DictationCoordinatorTestAccess::setSignedIn(coordinator, CoordinatorHarness::sampleMe());
        DictationCoordinatorTestAccess::setLastError(coordinator, QString());
        ASSERT_TRUE(coordinator.displayErrorText().isEmpty());
        const MenuBarContent content = menuBarContent(MenuBarContentInput::from(coordinator));
        const QStringList shown = titles(content);
        const qsizetype row = shown.indexOf(problem);
        ASSERT_GE(row, 0) << shown.join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(content.rows[row].kind, MenuRowKind::message);
    }
}

// A new user's shortcut press: the HUD and the tray say the user is signed out, not what the key
// store lacks.
TEST(MenuBarContentModel, ASignedOutStartSaysOnlyThatTheUserIsSignedOut)
{
    CoordinatorHarness h;
    DictationCoordinator& coordinator = h.coordinator();
    coordinator.startPushToTalk();
    h.settle();
    ASSERT_EQ(coordinator.phase(), DictationPhase::error) << qPrintable(h.activityMessages().join('\n'));
    const QString signedOut = QStringLiteral("You are signed out.");

    QStringList shown;
    for (const MenuRow& row : menuBarContent(MenuBarContentInput::from(coordinator)).rows)
        shown << row.title << row.detail;
    EXPECT_TRUE(shown.contains(signedOut)) << qPrintable(shown.join('\n'));
    const DictationHUDViewModel hud = DictationHUDViewModel::startFailure(coordinator);
    EXPECT_EQ(hud.title, QStringLiteral("Sign in from the tray to dictate"));
    EXPECT_EQ(hud.subtitle, signedOut);
    shown << hud.title << hud.subtitle;
    for (const QString& text : shown)
        EXPECT_FALSE(text.contains(QStringLiteral("API key"))) << text.toStdString();
}
