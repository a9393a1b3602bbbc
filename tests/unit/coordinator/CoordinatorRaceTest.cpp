// Events that arrive after something else has settled the session, in the orders the model found:
// each leaves what settled it alone.
#include <algorithm>
#include <chrono>

#include <QMetaObject>

#include <gtest/gtest.h>

#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/ServerStreamMessage.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Access = DictationCoordinatorTestAccess;
using Case = ClientStreamMessage::Case;

namespace {

class CoordinatorRaceTest : public ::testing::Test
{
protected:
    void SetUp() override { h.prepareDictation(); }
    DictationCoordinator& c() { return h.coordinator(); }

    // Runs after the tasks posted so far.
    void later(std::function<void()> work) { QMetaObject::invokeMethod(&c(), std::move(work), Qt::QueuedConnection); }

    CoordinatorHarness h;
};

// The service completes a failed session while a new press closes it; the close ends, and the next
// session opens, before the completion's own teardown comes round: that teardown is not the next
// session's.
TEST_F(CoordinatorRaceTest, AnOldSessionsCompletionLeavesTheNextSessionOpen)
{
    const QUuid first = h.openDictation();
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("The service failed.")));
    ASSERT_EQ(c().phase(), DictationPhase::error);
    OneShot<> closed = h.stream().disconnectGate.emplace();
    // The first press only dismisses the failure the HUD shows; the next one starts.
    c().dismissFailure();
    c().startPushToTalk();
    h.settle();
    ASSERT_EQ(h.streams.size(), 1);

    h.stream().deliver(ServerStreamMessage::sessionCompleted(first));
    later([closed]() mutable { closed.resolve(); });
    h.settle();

    ASSERT_EQ(h.streams.size(), 2);
    EXPECT_EQ(Access::sessionID(c()), h.stream().sessionID());
    EXPECT_FALSE(h.stream().disconnected);
    EXPECT_TRUE(h.fakeRecorder.running);
    EXPECT_EQ(c().phase(), DictationPhase::starting);
}

// The launch's restore meets a 401 while a dictation starts on the same key: the microphone closes
// at once and the cancel waits on the stream, while the service commits before it confirms the
// start. Its late SessionStarted does not take the phase back from the insertion to recording.
TEST_F(CoordinatorRaceTest, ASessionStartedAfterTheCommitLeavesTheInsertion)
{
    h.meAnswer.error = errorOf(CloudClientError::requestFailed(401, QStringLiteral("Unauthorized")));
    OneShot<> restoreAnswered = h.meAnswer.gate.emplace();
    Access::restoreSavedSession(c());
    h.settle();
    h.meAnswer.error = nullptr;
    h.meAnswer.gate.reset();
    const QUuid id = h.openDictation(false, false);
    ASSERT_EQ(c().phase(), DictationPhase::starting);
    h.insertionGate.emplace();
    h.stream().holdSends = true;
    restoreAnswered.resolve();
    h.settle();
    ASSERT_FALSE(h.fakeRecorder.running);

    h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Hello.") }));
    ASSERT_EQ(c().phase(), DictationPhase::inserting);
    h.deliver(ServerStreamMessage::sessionStarted(id));
    EXPECT_EQ(c().phase(), DictationPhase::inserting);
    EXPECT_FALSE(h.fakeRecorder.running);

    h.stream().holdSends = false;
    while (!h.stream().heldSends.isEmpty())
        h.stream().releaseSend();
    h.insertionGate->resolve();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::signedOut);
}

// A failure during the stop's grace owns the session: when the grace ends, the stop sends neither
// the leftover audio nor its StopSession on the failed session.
TEST_F(CoordinatorRaceTest, AFailureDuringTheStopsGraceEndsTheStop)
{
    h.openDictation();
    h.fakeRecorder.leftover = { QByteArray(1600, 'b') };
    c().stopPushToTalk();
    h.settle();
    h.advance(100ms);
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("The service failed.")));
    ASSERT_EQ(c().phase(), DictationPhase::error);
    const qsizetype sentBefore = h.stream().sent.size();

    h.advance(75ms);
    EXPECT_EQ(h.stream().sent.size(), sentBefore);
    EXPECT_EQ(c().phase(), DictationPhase::error);
    h.advance(150ms);
    EXPECT_EQ(h.stream().count(Case::stopSession), 0);
    EXPECT_TRUE(h.stream().disconnected);
}

// One rejected key reported twice, by the start whose stream refused it and by the launch's restore
// answered 401 while the first report still waits on the keyring: cleared and signed out once,
// with the start's words.
TEST_F(CoordinatorRaceTest, ASecondReportOfTheSameRejectionAddsNothing)
{
    const std::exception_ptr refused = errorOf(CloudClientError::requestFailed(401, QStringLiteral("Unauthorized")));
    h.meAnswer.error = refused;
    OneShot<> restoreAnswered = h.meAnswer.gate.emplace();
    Access::restoreSavedSession(c());
    h.settle();
    h.meAnswer.error = nullptr;
    h.meAnswer.gate.reset();
    h.streamSendFailure = [](const ClientStreamMessage& message) {
        return message.messageCase() == Case::startSession ? errorOf(CloudTransportError::refusedOpening(401))
                                                           : std::exception_ptr();
    };
    h.secrets().hold();
    c().startPushToTalk();
    h.settle();
    ASSERT_EQ(h.secrets().waitingCalls(), 1u);

    restoreAnswered.resolve();
    h.settle();
    h.secrets().release();
    h.settle();

    const auto deletions = std::count_if(h.secrets().calls().begin(), h.secrets().calls().end(),
        [](const auto& call) { return call.call == InMemorySecretStore::Call::deleteItem; });
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(h.activityMessages().filter(QStringLiteral("Cleared local credentials.")).size(), 1);
    EXPECT_EQ(c().lastError(), QStringLiteral("Saved session expired before dictation could start"));
    EXPECT_EQ(c().phase(), DictationPhase::signedOut);
    EXPECT_TRUE(c().didFinishSessionBootstrap());
}

} // namespace
