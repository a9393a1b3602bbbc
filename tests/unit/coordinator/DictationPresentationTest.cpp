#include <gtest/gtest.h>

#include <string>

#include "coordinator/DictationPresentation.h"

using namespace tessvale;

namespace {

const QString kRejectedKey = QStringLiteral("Cloud request failed (401): API key revoked");
const QString kExpired = QStringLiteral("Your saved session expired. Sign in again to reconnect this computer.");

DictationPresentation presentation(DictationPhase phase)
{
    DictationPresentation state;
    state.phase = phase;
    state.cloudBaseURL = QStringLiteral("https://api.tessvale.example ");
    return state;
}

ClientMeResponse account()
{
    ClientMeResponse me;
    me.user.email = QStringLiteral("ada@example.test");
    me.device.name = QStringLiteral("Workstation");
    return me;
}

TEST(StatusPresentation, AnErrorTurnsReadyIntoAWarningUntilItIsCleared)
{
    DictationPresentation state = presentation(DictationPhase::ready);
    state.lastError = QStringLiteral("x");
    EXPECT_EQ(state.menuBarSymbolName(), "exclamationmark.triangle.fill");
    EXPECT_EQ(state.statusTitle(), "Ready with error");
    state.lastError.clear();
    EXPECT_EQ(state.menuBarSymbolName(), "mic");
    EXPECT_EQ(state.statusTitle(), "Ready");
}

TEST(StatusPresentation, StartingLooksLikeRecordingWhileTheHudSaysItIsListening)
{
    for (const DictationPhase phase : { DictationPhase::starting, DictationPhase::recording }) {
        const DictationPresentation state = presentation(phase);
        EXPECT_EQ(state.statusTitle(), "Recording");
        EXPECT_EQ(state.menuBarSymbolName(), "record.circle.fill");
        EXPECT_EQ(state.hudTitle(), "Dictating");
        EXPECT_EQ(state.hudSubtitle(), "Listening for speech");
        EXPECT_TRUE(state.shouldShowHUD());
    }
    for (const DictationPhase phase : { DictationPhase::signedOut, DictationPhase::ready, DictationPhase::error })
        EXPECT_FALSE(presentation(phase).shouldShowHUD()) << caseName(phase).toStdString();
}

TEST(StatusPresentation, ARejectedKeyReadsAsAnExpiredSessionOnlyWhileSignedOut)
{
    DictationPresentation state = presentation(DictationPhase::signedOut);
    state.lastError = kRejectedKey;
    EXPECT_EQ(state.displayErrorText(), kExpired);
    EXPECT_EQ(state.detailText(), kExpired);
    EXPECT_EQ(state.hudSubtitle(), kExpired);

    state.isAuthenticated = true;
    EXPECT_EQ(state.displayErrorText(), kRejectedKey);
    EXPECT_EQ(state.detailText(), kRejectedKey);

    state.isAuthenticated = false;
    state.lastError = QStringLiteral("Cloud request failed (403): forbidden");
    EXPECT_EQ(state.displayErrorText(), state.lastError);
}

TEST(StatusPresentation, AMissingKeyReadsAsSignedOutOnlyWhileSignedOut)
{
    const QString missingKey = QStringLiteral("No cloud API key is available.");
    const QString signedOut = QStringLiteral("You are signed out.");
    for (const DictationPhase phase : { DictationPhase::signedOut, DictationPhase::error }) {
        DictationPresentation state = presentation(phase);
        state.lastError = missingKey;
        EXPECT_EQ(state.displayErrorText(), signedOut);
        EXPECT_EQ(state.hudSubtitle(), signedOut);
        state.isAuthenticated = true;
        EXPECT_EQ(state.displayErrorText(), missingKey);
    }
}

TEST(StatusPresentation, DetailTextTakesTheFirstRuleThatApplies)
{
    struct Case
    {
        std::string name;
        DictationPhase phase;
        QString lastError;
        std::optional<bool> signInUsesLoopback;
        QString partialTranscript;
        bool signedIn;
        QString expected;
    };
    using P = DictationPhase;
    const QString cloudLine = QStringLiteral("Cloud URL: https://api.tessvale.example ");
    const QString accountLine = QStringLiteral("ada@example.test on Workstation");
    const std::vector<Case> cases = {
        { "the error first", P::recording, "boom", true, "partial", true, "boom" },
        { "then a loopback sign-in", P::signedOut, "", true, "partial", true,
            "Waiting for the browser to return to Tessvale" },
        { "then a sign-in through the URL scheme", P::signedOut, "", false, "", false,
            "Finish sign-in in your browser to connect this computer" },
        { "then the partial transcript as it stands", P::recording, "", std::nullopt, "  ", true, "  " },
        { "a partial transcript only while recording", P::finalizing, "", std::nullopt, "partial", true, accountLine },
        { "then the account", P::ready, "", std::nullopt, "", true, accountLine },
        { "else the cloud URL as stored", P::error, "", std::nullopt, "", false, cloudLine },
    };
    for (const Case& c : cases) {
        DictationPresentation state = presentation(c.phase);
        state.lastError = c.lastError;
        if (c.signInUsesLoopback)
            state.browserSignIn
                = BrowserSignInState(QUuid::createUuid(), QUrl("https://x.test"), *c.signInUsesLoopback);
        state.partialTranscript = c.partialTranscript;
        if (c.signedIn)
            state.me = account();
        EXPECT_EQ(state.detailText(), c.expected) << c.name;
    }
}

TEST(StatusPresentation, HudSubtitleShowsTrimmedTextOfItsPhaseElseThePhaseLine)
{
    struct Case
    {
        DictationPhase phase;
        QString partialTranscript;
        QString finalTranscript;
        QString expected;
    };
    using P = DictationPhase;
    const std::vector<Case> cases = {
        { P::recording, "  hello there \n", "final", "hello there" },
        { P::recording, " \n ", "final", "Listening for speech" },
        { P::starting, "partial", "", "Listening for speech" },
        { P::finalizing, "partial", "final", "Wrapping up the audio stream" },
        { P::postProcessing, "partial", "\n cleaned ", "cleaned" },
        { P::postProcessing, "", " ", "Polishing the transcript" },
        { P::inserting, "", "\tdone\t", "done" },
        { P::inserting, "partial", "", "Sending text to the focused app" },
        // Outside a dictation the subtitle is the detail line.
        { P::ready, "partial", "final", "Cloud URL: https://api.tessvale.example " },
    };
    for (const Case& c : cases) {
        DictationPresentation state = presentation(c.phase);
        state.partialTranscript = c.partialTranscript;
        state.finalTranscript = c.finalTranscript;
        EXPECT_EQ(state.hudSubtitle(), c.expected) << caseName(c.phase).toStdString();
    }
}

TEST(StatusPresentation, OnlyAnAvailableUpdateIsOffered)
{
    ClientUpdateResponse update;
    update.latestVersion = QStringLiteral("2.0.0");
    update.updateAvailable = true;
    DictationPresentation state = presentation(DictationPhase::ready);
    state.appUpdateState = AppUpdateState::upToDate(update);
    EXPECT_EQ(state.availableUpdate(), std::nullopt);
    state.appUpdateState = AppUpdateState::available(update);
    EXPECT_EQ(state.availableUpdate(), update);
}

} // namespace
