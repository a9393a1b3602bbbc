#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "cloud/ServerStreamMessage.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Case = ClientStreamMessage::Case;

namespace {

QByteArray pcm(char fill, int bytes = 3200)
{
    return QByteArray(bytes, fill);
}

ServerStreamMessage stateChanged(const QUuid& id, const QString& state, std::optional<QString> detail = {})
{
    return ServerStreamMessage::sessionStateChanged({ id, FSharpUnionCase(state), std::move(detail) });
}

class CoordinatorSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { h.prepareDictation(); }

    DictationCoordinator& c() { return h.coordinator(); }

    // Starts a dictation and answers with SessionStarted unless told not to.
    QUuid open(bool handsFree = false, bool confirm = true)
    {
        handsFree ? c().toggleHandsFree() : c().startPushToTalk();
        h.settle();
        const QUuid id = h.stream().sessionID();
        if (confirm)
            deliver(ServerStreamMessage::sessionStarted(id));
        return id;
    }

    void deliver(const ServerStreamMessage& message)
    {
        h.stream().deliver(message);
        h.settle();
    }

    void commit(const QUuid& id, const QString& text)
    {
        deliver(ServerStreamMessage::transcriptCommitted({ id, text }));
    }

    CoordinatorHarness h;
};

TEST_F(CoordinatorSessionTest, PushToTalkStreamsInRecordingOrderAndStopsAfterTheLastChunk)
{
    c().startPushToTalk();
    h.settle();
    const QUuid id = h.stream().sessionID();
    EXPECT_EQ(c().phase(), DictationPhase::starting);
    h.fakeRecorder.chunk(pcm('a'));
    h.settle();
    EXPECT_EQ(h.stream().cases(), QList<Case> { Case::startSession }) << "no audio before SessionStarted";

    deliver(ServerStreamMessage::sessionStarted(id));
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    h.fakeRecorder.chunk(pcm('b'));
    h.fakeRecorder.chunk(pcm('c'));
    h.settle();

    // Delivered while stop() drains the pipeline: they still go out ahead of the leftovers.
    h.fakeRecorder.deliveredDuringStop = { pcm('d') };
    h.fakeRecorder.leftover = { pcm('e', 100) };
    c().stopPushToTalk();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    EXPECT_EQ(h.stream().count(Case::stopSession), 0) << "the microphone stays open for the grace";
    h.advance(175ms);

    EXPECT_EQ(h.stream().audioSequences(), (QList<qint64> { 0, 1, 2, 3, 4 }));
    EXPECT_EQ(h.stream().audioBytes(), pcm('a') + pcm('b') + pcm('c') + pcm('d') + pcm('e', 100));
    EXPECT_EQ(h.stream().cases().last(), Case::stopSession);
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
    h.fakeRecorder.chunk(pcm('z'));
    h.settle();
    EXPECT_EQ(h.stream().cases().last(), Case::stopSession) << "nothing after StopSession";

    deliver(ServerStreamMessage::finalTranscript({ id, QStringLiteral("hello"), QStringLiteral("Hello.") }));
    commit(id, QStringLiteral("Hello."));
    commit(id, QStringLiteral("Hello."));
    commit(id, QStringLiteral("Hello again."));
    deliver(ServerStreamMessage::sessionCompleted(id));
    // The service closes its socket after a normal end.
    h.streams.first()->terminate();
    h.settle();

    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Hello."));
    EXPECT_EQ(c().transcriptHistory().size(), 1);
    EXPECT_EQ(c().phase(), DictationPhase::ready);
    EXPECT_TRUE(c().lastError().isEmpty());
    EXPECT_TRUE(h.stream().disconnected);
    EXPECT_FALSE(DictationCoordinatorTestAccess::sessionID(c()));
}

TEST_F(CoordinatorSessionTest, AnEarlyReleaseKeepsItsStopThroughConfirmationsInTheGrace)
{
    const QUuid id = open(false, false);
    h.fakeRecorder.chunk(pcm('a'));
    c().stopPushToTalk();
    h.settle();
    deliver(ServerStreamMessage::sessionStarted(id));
    deliver(stateChanged(id, QStringLiteral("Recording")));
    deliver(stateChanged(id, QStringLiteral("Starting")));
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    h.advance(175ms);

    EXPECT_FALSE(h.fakeRecorder.running);
    EXPECT_EQ(h.stream().cases(), (QList<Case> { Case::startSession, Case::audioChunk, Case::stopSession }));
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
}

TEST_F(CoordinatorSessionTest, ToggleAndStopControlsFollowTheTriggerMode)
{
    // The toggle promotes a held push-to-talk dictation; the release is then ignored.
    open();
    c().toggleRecording();
    h.settle();
    EXPECT_EQ(c().triggerMode(), DictationTriggerMode::handsFree);
    c().stopPushToTalk();
    h.advance(1s);
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(h.logged(QStringLiteral("Ignored push-to-talk stop because push-to-talk is not active.")));
    // The stop control stops it.
    c().stopDictation();
    h.settle();
    h.advance(175ms);
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
    c().toggleHandsFree();
    h.settle();
    EXPECT_TRUE(h.logged(QStringLiteral("Ignored toggle request while phase=finalizing.")));
    // Completed, then the socket closes before the teardown ran: a normal end, not a dropped stream.
    h.stream().deliver(ServerStreamMessage::sessionCompleted(h.stream().sessionID()));
    h.stream().terminate();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::ready);
    EXPECT_TRUE(c().lastError().isEmpty());

    // While push to talk is held, the stop control stops instead of promoting.
    open();
    c().stopDictation();
    h.settle();
    h.advance(175ms);
    EXPECT_EQ(c().triggerMode(), DictationTriggerMode::pushToTalk);
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
    EXPECT_FALSE(h.fakeRecorder.running);
}

TEST_F(CoordinatorSessionTest, ChunksFromTheCaptureThreadArriveInOrder)
{
    open(true);
    std::thread capture([&] {
        for (int i = 0; i < 50; ++i)
            h.fakeRecorder.chunk(pcm(char('A' + i % 26), 320));
    });
    capture.join();
    h.settle();
    QByteArray expected;
    for (int i = 0; i < 50; ++i)
        expected += pcm(char('A' + i % 26), 320);
    EXPECT_EQ(h.stream().audioBytes(), expected);
}

TEST_F(CoordinatorSessionTest, QueuedHandsFreeCancelRestoresThePhaseTheStartFound)
{
    h.meAnswer.gate = OneShot<>();
    c().toggleHandsFree();
    h.settle();
    c().toggleHandsFree();
    h.settle();
    EXPECT_TRUE(h.logged(QStringLiteral("Queued hands-free cancellation while the dictation session is starting.")));
    h.meAnswer.gate->resolve();
    h.settle();

    EXPECT_EQ(c().phase(), DictationPhase::signedOut);
    EXPECT_EQ(h.transportsMade, 0);
    EXPECT_EQ(h.fakeRecorder.starts, 0);
    EXPECT_TRUE(h.logged(QStringLiteral("Canceled hands-free dictation before the session opened.")));
}

TEST_F(CoordinatorSessionTest, ACaptureThatEndsByItselfStopsAndNamesTheMicrophone)
{
    const QUuid id = open(true);
    h.fakeRecorder.chunk(pcm('a'));
    h.fakeRecorder.leftover = { pcm('b', 800) };
    h.fakeRecorder.end(QStringLiteral("USB Headset"), QStringLiteral("device removed"));
    h.settle();

    // No grace wait for audio that will not come: no time has passed.
    EXPECT_EQ(h.stream().audioBytes(), pcm('a') + pcm('b', 800));
    EXPECT_EQ(h.stream().cases().last(), Case::stopSession);
    const QStringList log = h.activityMessages();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(),
        [](const QString& line) { return line.startsWith(QStringLiteral("Lost the microphone \"USB Headset\"")); }));

    deliver(stateChanged(id, QStringLiteral("CompletedEmpty")));
    deliver(ServerStreamMessage::sessionCompleted(id));
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_TRUE(c().lastError().contains(QStringLiteral("\"USB Headset\""))) << c().lastError().toStdString();
}

TEST_F(CoordinatorSessionTest, EmptyDictationTextFollowsTheAudioThatWasSent)
{
    struct Row
    {
        int bytes;
        const char* expectedStart;
    };
    for (const Row& row : { Row { 0, "No microphone audio reached Tessvale." },
             Row { 8000, "That dictation ended before enough audio reached Tessvale." },
             Row { 20000, "Tessvale received very quiet audio." } }) {
        const QUuid id = open();
        for (int i = 0; i < 5; ++i)
            h.fakeRecorder.level(0.01f);
        if (row.bytes > 0)
            h.fakeRecorder.chunk(pcm('s', row.bytes));
        h.settle();
        deliver(stateChanged(id, QStringLiteral("CompletedEmpty"), QStringLiteral("nothing heard")));
        EXPECT_TRUE(c().lastError().startsWith(QLatin1String(row.expectedStart))) << row.bytes;
        EXPECT_EQ(c().phase(), DictationPhase::ready);
        deliver(ServerStreamMessage::sessionCompleted(id));
    }
}

} // namespace
