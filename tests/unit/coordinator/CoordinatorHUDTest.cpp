#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "cloud/CloudTransportError.h"
#include "cloud/ServerStreamMessage.h"
#include "insertion/TextInsertionTypes.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Access = DictationCoordinatorTestAccess;
using Case = ClientStreamMessage::Case;

namespace {

class CoordinatorHUDTest : public ::testing::Test
{
protected:
    void SetUp() override { h.prepareDictation(); }

    DictationCoordinator& c() { return h.coordinator(); }
    const CoordinatorTiming& timing() { return h.services().timing; }

    CoordinatorHarness h;
};

// The microphone waits for the HUD.

TEST_F(CoordinatorHUDTest, TheMicrophoneOpensOnlyOnceTheHUDIsOnScreen)
{
    h.hud.held = true;
    c().startPushToTalk();
    h.settle();
    ASSERT_EQ(c().phase(), DictationPhase::starting);
    EXPECT_EQ(h.hud.requests, 1);
    EXPECT_FALSE(h.fakeRecorder.running) << "the microphone opened before the HUD was on screen";
    h.advance(timing().hudShownTimeout / 2);
    EXPECT_FALSE(h.fakeRecorder.running);

    h.hud.answer();
    h.settle();
    EXPECT_TRUE(h.fakeRecorder.running);
    EXPECT_TRUE(h.hud.onScreen);
    EXPECT_EQ(h.stream().cases().value(0), Case::startSession);
}

TEST_F(CoordinatorHUDTest, AHUDThatNeverComesUpHoldsTheMicrophoneOnlyForItsBound)
{
    QStringList violations;
    h.onInvariantViolation = [&](const QString& violation) { violations.append(violation); };
    h.hud.held = true;
    c().toggleHandsFree();
    h.settle();
    h.advance(timing().hudShownTimeout - 1ms);
    EXPECT_FALSE(h.fakeRecorder.running);
    h.advance(1ms);
    EXPECT_TRUE(h.fakeRecorder.running);
    EXPECT_TRUE(h.logged(QStringLiteral("The HUD did not come on screen in time; opening the microphone anyway.")));
    // The one exception the invariant sees: the desktop never showed the window.
    EXPECT_FALSE(violations.isEmpty());
}

TEST_F(CoordinatorHUDTest, AStopWhileTheHUDComesUpRecordsNothing)
{
    for (const bool handsFree : { false, true }) {
        SCOPED_TRACE(handsFree ? "hands-free" : "push-to-talk");
        h.hud.held = true;
        handsFree ? c().toggleHandsFree() : c().startPushToTalk();
        h.settle();
        ASSERT_EQ(c().phase(), DictationPhase::starting);
        handsFree ? c().toggleHandsFree() : c().stopPushToTalk();
        h.settle();
        h.hud.answer();
        h.settle();
        EXPECT_EQ(h.fakeRecorder.starts, 0);
        EXPECT_EQ(c().phase(), DictationPhase::ready);
        EXPECT_FALSE(Access::sessionID(c()));
        EXPECT_TRUE(h.stream().disconnected);
        EXPECT_EQ(h.stream().count(Case::startSession), 0);
    }
}

// A dictation that ends by a failure says so in the HUD, and a press meanwhile only dismisses it.

TEST_F(CoordinatorHUDTest, AFailureShownInTheHUDTakesTheNextPressAsItsDismissal)
{
    const std::function<void()> presses[] = { [this] { c().toggleHandsFree(); }, [this] { c().startPushToTalk(); } };
    for (const auto& press : presses) {
        h.openDictation(true);
        ASSERT_EQ(c().phase(), DictationPhase::recording);
        h.stream().terminate(errorOf(CloudTransportError(
            CloudTransportError::Code::connectionLost, QStringLiteral("The streaming connection was lost."))));
        h.settle();
        ASSERT_EQ(c().phase(), DictationPhase::error);
        EXPECT_TRUE(c().isShowingFailure());
        EXPECT_TRUE(c().shouldShowHUD());

        const int transports = h.transportsMade;
        press();
        h.settle();
        EXPECT_EQ(h.transportsMade, transports) << "a press while the failure was shown started a recording";
        EXPECT_FALSE(h.fakeRecorder.running);
        EXPECT_FALSE(c().isShowingFailure());
        EXPECT_FALSE(c().shouldShowHUD());
        EXPECT_EQ(c().phase(), DictationPhase::error);
        c().stopPushToTalk();
        h.settle();
    }
    // Once the failure is no longer shown, the press starts again.
    c().toggleHandsFree();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::starting);
}

// The press no longer replaces the failed session at once: its late confirmation must not revive it.
TEST_F(CoordinatorHUDTest, AFailedSessionsLateConfirmationLeavesTheErrorShown)
{
    const QUuid id = h.openDictation(true, false);
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("The service failed.")));
    ASSERT_EQ(c().phase(), DictationPhase::error);
    c().toggleHandsFree();
    h.settle();
    h.deliver(ServerStreamMessage::sessionStarted(id));
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_FALSE(h.fakeRecorder.running);
    h.advance(timing().sessionErrorDisconnectGracePeriod);
    EXPECT_FALSE(Access::sessionID(c()));
    EXPECT_EQ(c().phase(), DictationPhase::error);
}

TEST_F(CoordinatorHUDTest, AFailureIsShownForAMomentAndTheMenuStartReplacesIt)
{
    h.openDictation(true);
    h.stream().terminate();
    h.settle();
    ASSERT_EQ(c().phase(), DictationPhase::error);
    ASSERT_TRUE(c().isShowingFailure());
    h.advance(timing().failureShownFor - 1ms);
    EXPECT_TRUE(c().isShowingFailure());
    h.advance(1ms);
    EXPECT_FALSE(c().isShowingFailure());
    EXPECT_FALSE(c().shouldShowHUD());

    // The menu's start is a start the user chose: it goes ahead.
    h.openDictation(true);
    h.stream().terminate();
    h.settle();
    ASSERT_TRUE(c().isShowingFailure());
    c().toggleRecording();
    h.settle();
    EXPECT_FALSE(c().isShowingFailure());
    EXPECT_EQ(c().phase(), DictationPhase::starting);
}

TEST_F(CoordinatorHUDTest, AKeyRefusedAtTheOpeningIsShownSignedOut)
{
    h.streamSendFailure = [](const ClientStreamMessage& message) {
        return message.messageCase() == Case::startSession ? errorOf(CloudTransportError::refusedOpening(401))
                                                           : std::exception_ptr();
    };
    c().startPushToTalk();
    h.settle();
    ASSERT_EQ(c().phase(), DictationPhase::signedOut);
    EXPECT_FALSE(h.fakeRecorder.running);
    EXPECT_TRUE(c().isShowingFailure());
    EXPECT_TRUE(c().shouldShowHUD());
    EXPECT_FALSE(c().displayErrorText().isEmpty());
}

TEST_F(CoordinatorHUDTest, AFailedInsertionIsShownWithItsRetry)
{
    h.insertionError = errorOf(TextInsertionError(TextInsertionError::Case::transcriptNotDelivered));
    const QUuid id = h.openDictation();
    h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Hello there.") }));
    ASSERT_EQ(c().phase(), DictationPhase::error);
    EXPECT_TRUE(c().isShowingFailure());
    EXPECT_TRUE(c().shouldShowHUD());
    EXPECT_TRUE(c().canRetryFailedInsertion());
}

} // namespace
