#include <gtest/gtest.h>

#include "setup/SetupModel.h"

using namespace tessvale;
using Readiness = AppSettings::LaunchReadinessState;
using P = PermissionState;
using Phase = DictationPhase;
using Step = OnboardingStepState;

namespace {

const QString kEmail = QStringLiteral("ada@example.test");

struct State
{
    bool signedIn = false;
    bool browser = false;
    P microphone = P::notDetermined;
    P accessibility = P::notDetermined;
    Phase phase = Phase::signedOut;
};

SetupInput input(const State& s)
{
    SetupInput in;
    in.isAuthenticated = s.signedIn;
    if (s.signedIn)
        in.accountEmail = kEmail;
    if (s.browser)
        in.signInAttemptID = QUuid(QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}"));
    in.permissions = { s.microphone, s.accessibility };
    in.phase = s.phase;
    in.statusTitle = QStringLiteral("Ready");
    return in;
}

} // namespace

TEST(SetupModel, PrimaryButtonTitleAndAction)
{
    const P ok = P::authorized;
    struct Row
    {
        State state;
        const char* title;
        SetupAction action;
        bool enabled;
    };
    const Row rows[] = {
        { { false, true }, "Open Browser Again", SetupAction::reopenBrowserSignIn, true },
        { { true, true, ok, ok, Phase::recording }, "Open Browser Again", SetupAction::reopenBrowserSignIn, true },
        { { true, false, ok, ok, Phase::starting }, "Stop Dictation", SetupAction::stopDictation, true },
        { { true, false, ok, ok, Phase::recording }, "Stop Dictation", SetupAction::stopDictation, true },
        // The stop title always stops, even when a later rule would have another action.
        { { false, false, P::denied, P::denied, Phase::recording }, "Stop Dictation", SetupAction::stopDictation,
            true },
        { { true, false, ok, ok, Phase::finalizing }, "Working…", SetupAction::toggleRecording, false },
        { { true, false, ok, ok, Phase::postProcessing }, "Working…", SetupAction::toggleRecording, false },
        { { true, false, ok, ok, Phase::inserting }, "Working…", SetupAction::toggleRecording, false },
        { { false }, "Continue in Browser", SetupAction::beginSignIn, true },
        { { true, false, P::denied, ok, Phase::ready }, "Grant Microphone Access", SetupAction::promptForMicrophone,
            true },
        { { true, false, ok, P::notDetermined, Phase::ready }, "Grant Accessibility Access",
            SetupAction::promptForAccessibility, true },
        { { true, false, ok, ok, Phase::ready }, "Start Dictation", SetupAction::toggleRecording, true },
        { { true, false, ok, ok, Phase::error }, "Start Dictation", SetupAction::toggleRecording, true },
    };
    for (const Row& row : rows) {
        const SetupButton button = primaryButton(input(row.state));
        EXPECT_EQ(button.title, QString::fromUtf8(row.title)) << row.title;
        EXPECT_EQ(button.action, row.action) << row.title;
        EXPECT_EQ(button.enabled, row.enabled) << row.title;
    }
}

TEST(SetupModel, ChecklistButtonTitleAndAction)
{
    const P ok = P::authorized;
    struct Row
    {
        State state;
        const char* title;
        SetupAction action;
    };
    const Row rows[] = {
        { { true, false, ok, ok, Phase::recording }, "Stop Test Dictation", SetupAction::stopDictation },
        { { true, false, P::denied, ok, Phase::starting }, "Stop Test Dictation", SetupAction::stopDictation },
        { { true, false, ok, ok, Phase::inserting }, "Working…", SetupAction::toggleRecording },
        { { true, false, P::notDetermined, ok, Phase::ready }, "Grant Microphone Access",
            SetupAction::promptForMicrophone },
        { { true, false, ok, P::denied, Phase::ready }, "Grant Accessibility Access",
            SetupAction::promptForAccessibility },
        // Signed in with a browser sign-in open: the checklist goes on to the dictation.
        { { true, true, ok, ok, Phase::ready }, "Start Test Dictation", SetupAction::toggleRecording },
        { { false }, "Connect Account", SetupAction::beginSignIn },
        { { false, false, ok, ok }, "Connect Account", SetupAction::beginSignIn },
        { { false, true }, "Continue in Browser", SetupAction::reopenBrowserSignIn },
    };
    for (const Row& row : rows) {
        const SetupButton button = checklistButton(input(row.state));
        EXPECT_EQ(button.title, QString::fromUtf8(row.title)) << row.title;
        EXPECT_EQ(button.action, row.action) << row.title;
        EXPECT_EQ(button.enabled, !isDictationBusy(row.state.phase)) << row.title;
    }
}

TEST(SetupModel, ChecklistSteps)
{
    const P ok = P::authorized;
    struct Row
    {
        State state;
        Readiness readiness;
        Step connect, permissions, test;
        const char* connectDetail;
        const char* permissionDetail;
    };
    const char* invite = "Sign in once in your browser so this computer gets its own device authorization.";
    const Row rows[] = {
        { { false }, Readiness::notStarted, Step::current, Step::pending, Step::pending, invite,
            "Grant microphone access for recording and accessibility access for text insertion." },
        { { false, false, ok, ok }, Readiness::notStarted, Step::current, Step::complete, Step::pending, invite,
            "Microphone and accessibility permissions are both ready." },
        { { false, true }, Readiness::notStarted, Step::current, Step::pending, Step::pending,
            "Browser sign-in is in progress for this computer.",
            "Grant microphone access for recording and accessibility access for text insertion." },
        { { true, false, ok, P::denied }, Readiness::inProgress, Step::complete, Step::current, Step::pending,
            "Connected as ada@example.test.",
            "Grant accessibility access so Tessvale can place text back into the focused app." },
        { { true, false, P::denied, ok }, Readiness::notStarted, Step::complete, Step::current, Step::pending,
            "Connected as ada@example.test.", "Grant microphone access so Tessvale can capture your speech." },
        { { true, false, ok, ok }, Readiness::notStarted, Step::complete, Step::complete, Step::current,
            "Connected as ada@example.test.", "Microphone and accessibility permissions are both ready." },
        { { true, false, ok, ok }, Readiness::completed, Step::complete, Step::complete, Step::complete,
            "Connected as ada@example.test.", "Microphone and accessibility permissions are both ready." },
    };
    for (const Row& row : rows) {
        SetupInput in = input(row.state);
        in.launchReadiness = row.readiness;
        const QList<SetupStep> steps = checklistSteps(in);
        ASSERT_EQ(steps.size(), 3);
        EXPECT_EQ(steps[0].state, row.connect) << row.connectDetail;
        EXPECT_EQ(steps[1].state, row.permissions) << row.connectDetail;
        EXPECT_EQ(steps[2].state, row.test) << row.connectDetail;
        EXPECT_EQ(steps[0].detail, QString::fromUtf8(row.connectDetail));
        EXPECT_EQ(steps[1].detail, QString::fromUtf8(row.permissionDetail));
    }
    // Signed in before the account record arrives: complete, with the invitation.
    SetupInput early = input({ true });
    early.accountEmail.reset();
    EXPECT_EQ(checklistSteps(early)[0].state, Step::complete);
    EXPECT_EQ(checklistSteps(early)[0].detail, QString::fromUtf8(invite));
    EXPECT_TRUE(checklistSteps(input({ true, false, ok, ok, Phase::recording }))[2].detail.startsWith(
        QStringLiteral("Speak a sentence")));
}

TEST(SetupModel, SectionPresence)
{
    using S = SetupSection;
    const QList<S> tail { S::shortcuts, S::permissions, S::preferences, S::personalTerms, S::troubleshooting };
    struct Row
    {
        Readiness readiness;
        bool transcript;
        bool error;
        bool browser;
        QList<S> middle;
    };
    const Row rows[] = {
        { Readiness::notStarted, true, false, false, { S::checklist } },
        { Readiness::inProgress, false, true, false, { S::checklist } },
        { Readiness::completed, true, false, true, { S::readyCard, S::latestTranscript } },
        { Readiness::completed, false, false, false, { S::readyCard } },
        { Readiness::dismissed, true, true, false, {} },
    };
    for (const Row& row : rows) {
        SetupInput in = input({ true, row.browser });
        in.launchReadiness = row.readiness;
        if (row.transcript)
            in.latestTranscriptText = QStringLiteral("Hello.");
        if (row.error)
            in.displayErrorText = QStringLiteral("Something failed");
        QList<S> expected { S::hero };
        if (row.error)
            expected.append(S::errorBanner);
        if (row.browser)
            expected.append(S::browserSignIn);
        expected.append(S::getStarted);
        expected += row.middle;
        expected += tail;
        const SetupContent content = setupContent(in);
        EXPECT_EQ(content.sections, expected) << int(row.readiness);
        EXPECT_EQ(content.latestTranscript, row.middle.contains(S::latestTranscript) ? "Hello." : QString());
    }
}

TEST(SetupModel, HeroSummaryAndButtonsFollowTheAccount)
{
    struct Row
    {
        State state;
        bool recordLoaded;
        QList<SetupBadge> badges;
        const char* account;
        bool cancel, signOut;
    };
    const Row rows[] = {
        { { false }, false, { { "Setup required", SetupTint::orange } }, "Not signed in", false, false },
        { { false, true, P::notDetermined, P::notDetermined, Phase::signedOut }, false,
            { { "Browser sign-in", SetupTint::orange }, { "Waiting for browser", SetupTint::orange } },
            "Browser sign-in in progress", true, false },
        { { true, true, P::authorized, P::authorized, Phase::ready }, true,
            { { "Browser sign-in", SetupTint::green }, { kEmail, SetupTint::blue } }, "ada@example.test", true, true },
        { { true, false, P::authorized, P::authorized, Phase::recording }, true,
            { { "Ready", SetupTint::blue }, { kEmail, SetupTint::blue } }, "ada@example.test", false, true },
        { { true, false, P::authorized, P::authorized, Phase::error }, false, { { "Ready", SetupTint::red } },
            "Not signed in", false, true },
    };
    for (const Row& row : rows) {
        SetupInput in = input(row.state);
        if (!row.recordLoaded)
            in.accountEmail.reset();
        const SetupContent content = setupContent(in);
        EXPECT_EQ(content.hero.badges, row.badges) << row.account;
        EXPECT_EQ(content.getStarted.summaryColumn1[0].value, QString::fromUtf8(row.account));
        EXPECT_EQ(content.getStarted.showsCancel, row.cancel) << row.account;
        EXPECT_EQ(content.getStarted.showsSignOut, row.signOut) << row.account;
    }
}

// The open sign-in's address is in its card to copy, and under the error a failed browser causes.
TEST(SetupModel, TheSignInAddressShowsInTheCardAndUnderAnError)
{
    const QString address = QStringLiteral("https://sign-in.example/authorize?attempt=1");
    SetupInput in = input({ false, true });
    in.signInAddress = QUrl(address);
    EXPECT_EQ(setupContent(in).browserSignIn.signInAddress, address);
    EXPECT_EQ(setupContent(in).errorBanner.errorSignInAddress, "");
    in.displayErrorText = QStringLiteral("The web browser could not be opened.");
    EXPECT_EQ(setupContent(in).errorBanner.errorSignInAddress, address);
    in.signInAttemptID.reset();
    EXPECT_EQ(setupContent(in).browserSignIn.signInAddress, "");
    EXPECT_EQ(setupContent(in).errorBanner.errorSignInAddress, "");
}

// An unplugged preferred microphone: the summary falls back, the picker selects nothing, and nothing
// here writes the setting.
TEST(SetupModel, MicrophonePickerAndSummary)
{
    SetupInput in = input({ true });
    in.availableInputDevices = { { QStringLiteral("usb-1"), QStringLiteral("USB Mic") },
        { QStringLiteral("hdmi"), QStringLiteral("Monitor") } };
    for (const auto& [uid, selected, summary] : { std::tuple { QString(), 0, QStringLiteral("Default microphone") },
             std::tuple { QStringLiteral("hdmi"), 2, QStringLiteral("Monitor") },
             std::tuple { QStringLiteral("gone"), -1, QStringLiteral("Default microphone") } }) {
        in.preferredMicrophoneUID = uid;
        const SetupContent content = setupContent(in);
        EXPECT_EQ(content.preferences.selectedMicrophone, selected) << uid.toStdString();
        EXPECT_EQ(content.getStarted.summaryColumn1[2].value, summary);
        ASSERT_EQ(content.preferences.microphoneOptions.size(), 3);
        EXPECT_EQ(content.preferences.microphoneOptions[0],
            (SetupMicrophoneOption { QStringLiteral("Default microphone"), {} }));
    }
    in.availableInputDevices.clear();
    EXPECT_EQ(setupContent(in).preferences.microphoneOptions.size(), 1);
}

TEST(SetupModel, TroubleshootingRows)
{
    SetupInput in = input({ true });
    for (int i = 0; i < 50; ++i)
        in.activityLog.append({ QUuid::createUuid(), QDateTime::currentDateTime(), QString::number(49 - i) });
    in.supportEmailAddress = QStringLiteral("help@tessvale.example");
    struct Row
    {
        std::optional<QString> bundle, role;
        bool selected, unicode;
        QList<SetupLabelValue> expected;
    };
    const Row rows[] = {
        { std::nullopt, std::nullopt, false, true,
            { { "App", "Notes" }, { "Bundle ID", "unknown" }, { "Role", "unknown" }, { "Selected text", "Unavailable" },
                { "Unicode typing", "Supported" } } },
        { QStringLiteral("org.notes"), QStringLiteral("text"), true, false,
            { { "App", "Notes" }, { "Bundle ID", "org.notes" }, { "Role", "text" }, { "Selected text", "Supported" },
                { "Unicode typing", "Unavailable" } } },
    };
    for (const Row& row : rows) {
        FocusedAppDiagnostics app;
        app.appName = QStringLiteral("Notes");
        app.bundleIdentifier = row.bundle;
        app.role = row.role;
        app.canSetSelectedText = row.selected;
        app.supportsUnicodeTypingFallback = row.unicode;
        in.focusedAppDiagnostics = app;
        EXPECT_EQ(setupContent(in).troubleshooting.focusedApp, row.expected);
    }
    const SetupContent content = setupContent(in);
    ASSERT_EQ(content.troubleshooting.activity.size(), 6);
    EXPECT_EQ(content.troubleshooting.activity.front().message, QStringLiteral("49"));
    EXPECT_EQ(content.troubleshooting.activity.back().message, QStringLiteral("44"));
    EXPECT_EQ(content.troubleshooting.supportLinkText, QStringLiteral("Email help@tessvale.example"));
    in.focusedAppDiagnostics.reset();
    in.activityLog.clear();
    EXPECT_TRUE(setupContent(in).troubleshooting.focusedApp.isEmpty());
    EXPECT_TRUE(setupContent(in).troubleshooting.activity.isEmpty());
}

TEST(SetupModel, BlockTexts)
{
    EXPECT_EQ(permissionStateText(P::notDetermined), QStringLiteral("Not Determined"));
    EXPECT_EQ(permissionStateTint(P::notDetermined), SetupTint::orange);
    EXPECT_EQ(permissionStateText(P::denied), QStringLiteral("Denied"));
    EXPECT_EQ(permissionStateTint(P::denied), SetupTint::red);
    EXPECT_EQ(permissionStateText(P::authorized), QStringLiteral("Authorized"));
    EXPECT_EQ(permissionStateTint(P::authorized), SetupTint::green);
    EXPECT_EQ(stepSymbolName(Step::pending), QStringLiteral("circle"));
    EXPECT_EQ(stepSymbolName(Step::current), QStringLiteral("arrow.right.circle.fill"));
    EXPECT_EQ(stepSymbolName(Step::complete), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(stepTint(Step::current), SetupTint::blue);
    EXPECT_EQ(stepTint(Step::complete), SetupTint::green);
}
