#include <chrono>
#include <memory>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "cloud/ServerStreamMessage.h"
#include "support/async/TaskRunner.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Case = ClientStreamMessage::Case;

namespace {

std::shared_ptr<TaskOutcome<void>> startQuit(CoordinatorHarness& h, std::optional<QCoro::Task<>>& runner)
{
    auto outcome = std::make_shared<TaskOutcome<void>>();
    runner.emplace(captureTask<void>(h.coordinator().prepareToQuit(), outcome));
    h.settle();
    return outcome;
}

} // namespace

TEST(CoordinatorQuit, ALiveDictationIsCancelledThenClosedWithTheMicrophoneOff)
{
    for (const bool stopped : { false, true }) {
        CoordinatorHarness h;
        h.prepareDictation();
        DictationCoordinator& c = h.coordinator();
        const QUuid id = h.openDictation(/*handsFree=*/true);
        if (stopped) {
            c.stopDictation();
            h.settle();
            h.advance(175ms);
            ASSERT_EQ(c.phase(), DictationPhase::finalizing);
        }
        ASSERT_TRUE(h.fakeRecorder.running || stopped);

        std::optional<QCoro::Task<>> runner;
        const auto quit = startQuit(h, runner);

        EXPECT_TRUE(quit->done);
        EXPECT_EQ(h.stream().sent.last().messageCase(), Case::cancelSession) << stopped;
        EXPECT_EQ(h.stream().count(Case::cancelSession), 1);
        EXPECT_TRUE(h.stream().disconnected);
        EXPECT_FALSE(h.fakeRecorder.running);
        EXPECT_EQ(c.phase(), DictationPhase::ready);
        EXPECT_TRUE(h.logged(
            QStringLiteral("Cancelled session %1 before quitting.").arg(id.toString(QUuid::WithoutBraces).toUpper())));
        // The closed session's late messages insert nothing.
        h.stream().deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("late") }));
        h.settle();
        EXPECT_TRUE(h.insertions.isEmpty());
    }
}

TEST(CoordinatorQuit, ARunningInsertionIsCancelledAndAwaited)
{
    CoordinatorHarness h;
    h.prepareDictation();
    DictationCoordinator& c = h.coordinator();
    const QUuid id = h.openDictation();
    h.insertionGate = OneShot<>();
    h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Dear Ada") }));
    ASSERT_EQ(h.insertions.size(), 1);
    const CancelToken token = h.insertions.first().token;
    EXPECT_FALSE(token.isCancelled());

    std::optional<QCoro::Task<>> runner;
    const auto quit = startQuit(h, runner);

    // The service had committed the text: nothing to cancel there, but the paste is cancelled and
    // the quit waits until it has put the clipboard back.
    EXPECT_TRUE(token.isCancelled());
    EXPECT_EQ(h.stream().count(Case::cancelSession), 0);
    EXPECT_FALSE(quit->done);
    h.insertionGate->fail(CancelledError());
    h.settle();
    EXPECT_TRUE(quit->done);
    EXPECT_FALSE(quit->error);

    // An insertion that would begin after the quit starts cancelled.
    h.insertionGate.reset();
    QCoro::Task<> late = DictationCoordinatorTestAccess::insertCommittedTranscript(c, QStringLiteral("late"));
    h.settle();
    ASSERT_EQ(h.insertions.size(), 2);
    EXPECT_TRUE(h.insertions.last().token.isCancelled());
}

TEST(CoordinatorQuit, IdleQuitsAtOnceAndAQuitOutlivedByItsCoordinatorEndsQuietly)
{
    {
        CoordinatorHarness h;
        std::optional<QCoro::Task<>> runner;
        EXPECT_TRUE(startQuit(h, runner)->done);
        EXPECT_EQ(h.transportsMade, 0);
    }
    auto h = std::make_unique<CoordinatorHarness>();
    h->prepareDictation();
    const QUuid id = h->openDictation();
    h->insertionGate = OneShot<>();
    h->deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("text") }));
    std::optional<QCoro::Task<>> runner;
    const auto quit = startQuit(*h, runner);
    ASSERT_FALSE(quit->done);
    h.reset();
    EXPECT_TRUE(quit->done);
}

TEST(CoordinatorQuit, AStartWaitingOnTheKeyringTouchesNothingOfItsDestroyedCoordinator)
{
    auto h = std::make_unique<CoordinatorHarness>();
    h->prepareDictation();
    h->secrets().hold();
    h->coordinator().toggleHandsFree();
    h->settle();
    ASSERT_TRUE(DictationCoordinatorTestAccess::isStartingRecording(h->coordinator()));
    // The keyring's read fails as the coordinator goes; the start must end there.
    h.reset();
    QCoreApplication::processEvents();
}
