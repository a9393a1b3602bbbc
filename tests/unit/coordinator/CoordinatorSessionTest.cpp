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
    // A stop task first runs, then its grace passes.
    void stopAfterGrace()
    {
        h.settle();
        h.advance(175ms);
    }
    // A push-to-talk start whose StartSession message stays on its way until the test lets it go.
    void startWithTheStartMessageHeld()
    {
        h.streamSendFailure = [this](const ClientStreamMessage& message) {
            h.stream().holdSends = message.messageCase() == Case::startSession;
            return std::exception_ptr();
        };
        c().startPushToTalk();
        h.settle();
        ASSERT_EQ(h.stream().heldSends.size(), 1);
    }

    CoordinatorHarness h;
};

TEST_F(CoordinatorSessionTest, PushToTalkStreamsInRecordingOrderAndInsertsOnce)
{
    h.diagnostics = FocusedAppDiagnostics { .appName = QStringLiteral("Notes") };
    const QUuid id = h.openDictation(false, false);
    EXPECT_EQ(c().focusedAppDiagnostics(), h.diagnostics) << "the start still reads the focused application";
    h.fakeRecorder.chunk(pcm('a'));
    h.settle();
    EXPECT_EQ(h.stream().cases(), QList<Case> { Case::startSession }) << "no audio before SessionStarted";
    h.deliver(ServerStreamMessage::sessionStarted(id));
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    h.fakeRecorder.chunk(pcm('b'));

    // 'c' reaches the handler while stop() drains the pipeline: it still goes out before the leftovers.
    h.fakeRecorder.deliveredDuringStop = { pcm('c') };
    h.fakeRecorder.leftover = { pcm('d', 100) };
    c().stopPushToTalk();
    h.settle();
    EXPECT_EQ(h.stream().count(Case::stopSession), 0) << "the microphone stays open for the grace";
    h.advance(175ms);
    h.fakeRecorder.chunk(pcm('z'));
    h.settle();

    EXPECT_EQ(h.stream().audioSequences(), (QList<qint64> { 0, 1, 2, 3 }));
    EXPECT_EQ(h.stream().audioBytes(), pcm('a') + pcm('b') + pcm('c') + pcm('d', 100));
    EXPECT_EQ(h.stream().cases().last(), Case::stopSession);
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);

    h.deliver(ServerStreamMessage::finalTranscript({ id, QStringLiteral("hello"), QStringLiteral("Hello.") }));
    for (const QString& text : { QStringLiteral("Hello."), QStringLiteral("Hello."), QStringLiteral("Again.") })
        h.deliver(ServerStreamMessage::transcriptCommitted({ id, text }));
    h.deliver(ServerStreamMessage::sessionCompleted(id));
    h.stream().terminate();
    h.settle();

    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Hello."));
    EXPECT_EQ(c().transcriptHistory().size(), 1);
    EXPECT_EQ(c().phase(), DictationPhase::ready);
    EXPECT_TRUE(c().lastError().isEmpty());
    EXPECT_TRUE(h.stream().disconnected);
    // The socket's end is reported after the disconnect has returned.
    EXPECT_TRUE(h.logged(QStringLiteral("Ignoring websocket termination for %1 after its disconnect.")
                             .arg(id.toString(QUuid::WithoutBraces).toUpper())));
}

TEST_F(CoordinatorSessionTest, ChunksFromTheCaptureThreadArriveInOrder)
{
    h.openDictation(true);
    QByteArray expected;
    for (int i = 0; i < 50; ++i)
        expected += pcm(char('A' + i % 26), 320);
    std::thread capture([&] {
        for (int i = 0; i < 50; ++i)
            h.fakeRecorder.chunk(expected.mid(i * 320, 320));
    });
    capture.join();
    h.settle();
    EXPECT_EQ(h.stream().audioBytes(), expected);
}

TEST_F(CoordinatorSessionTest, AnEarlyReleaseKeepsItsStopThroughConfirmationsInTheGrace)
{
    const QUuid id = h.openDictation(false, false);
    h.fakeRecorder.chunk(pcm('a'));
    c().stopPushToTalk();
    h.settle();
    h.deliver(ServerStreamMessage::sessionStarted(id));
    h.deliver(stateChanged(id, QStringLiteral("Recording")));
    h.deliver(stateChanged(id, QStringLiteral("Starting")));
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    h.advance(175ms);

    EXPECT_FALSE(h.fakeRecorder.running);
    EXPECT_EQ(h.stream().cases(), (QList<Case> { Case::startSession, Case::audioChunk, Case::stopSession }));
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
}

TEST_F(CoordinatorSessionTest, ToggleAndStopControlsFollowTheTriggerMode)
{
    // The toggle promotes a held push-to-talk dictation; the release is then ignored.
    h.openDictation();
    c().toggleRecording();
    c().stopPushToTalk();
    h.advance(1s);
    EXPECT_EQ(c().triggerMode(), DictationTriggerMode::handsFree);
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    // The stop control stops it; a toggle while finalizing starts nothing.
    c().stopDictation();
    stopAfterGrace();
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
    h.openDictation();
    c().stopDictation();
    stopAfterGrace();
    EXPECT_EQ(c().triggerMode(), DictationTriggerMode::pushToTalk);
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
    EXPECT_FALSE(h.fakeRecorder.running);
}

TEST_F(CoordinatorSessionTest, AQueuedCancelOrReleaseRestoresThePhaseTheStartFound)
{
    const QList<std::pair<bool, QString>> modes = {
        { true, QStringLiteral("Canceled hands-free dictation before the session opened.") },
        { false, QStringLiteral("Canceled push-to-talk dictation before the session opened.") },
    };
    for (const auto& [handsFree, line] : modes) {
        CoordinatorHarness run;
        run.prepareDictation();
        run.meAnswer.gate = OneShot<>();
        handsFree ? run.coordinator().toggleHandsFree() : run.coordinator().startPushToTalk();
        run.settle();
        handsFree ? run.coordinator().toggleHandsFree() : run.coordinator().stopPushToTalk();
        run.settle();
        run.meAnswer.gate->resolve();
        run.settle();

        // The start found the user signed out, but its own account fetch signed them in.
        EXPECT_TRUE(run.coordinator().isAuthenticated());
        EXPECT_EQ(run.coordinator().phase(), DictationPhase::ready);
        EXPECT_FALSE(run.coordinator().triggerMode());
        EXPECT_EQ(run.transportsMade, 0);
        EXPECT_EQ(run.fakeRecorder.starts, 0);
        EXPECT_TRUE(run.logged(line)) << run.activityMessages().join('\n').toStdString();
    }
}

// A second tap during the first release's grace, while the start message is still on its way: its
// release is queued on the start, which the first stop ends with its grace, so the start's own end
// stops nothing more. The next dictation records until its own release.
TEST_F(CoordinatorSessionTest, AReleaseQueuedDuringTheStopsGraceGoesWithTheStart)
{
    ASSERT_NO_FATAL_FAILURE(startWithTheStartMessageHeld());
    const QUuid id = h.stream().sessionID();
    c().stopPushToTalk();
    h.settle();
    c().startPushToTalk();
    c().stopPushToTalk();
    h.settle();
    ASSERT_TRUE(h.logged(QStringLiteral("Queued push-to-talk stop while the dictation session is starting.")));
    h.advance(175ms);
    h.deliver(ServerStreamMessage::sessionStarted(id));
    ASSERT_EQ(h.stream().count(Case::stopSession), 1);

    h.stream().releaseSend();
    h.settle();
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
    h.deliver(ServerStreamMessage::sessionCompleted(id));
    ASSERT_EQ(c().phase(), DictationPhase::ready);

    h.openDictation();
    h.advance(1s);
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(h.fakeRecorder.running);
    c().stopPushToTalk();
    stopAfterGrace();
    EXPECT_EQ(h.stream().count(Case::stopSession), 1);
}

// A release after the service failed the session while its start message was on its way: the failure
// stays, and nothing is stopped on the failed session.
TEST_F(CoordinatorSessionTest, AReleaseAfterTheServiceFailedTheStartingSessionLeavesTheFailure)
{
    ASSERT_NO_FATAL_FAILURE(startWithTheStartMessageHeld());
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("The service failed.")));
    ASSERT_EQ(c().phase(), DictationPhase::error);
    c().stopPushToTalk();
    h.settle();
    h.stream().releaseSend();
    h.advance(31s);

    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_EQ(h.stream().count(Case::stopSession), 0);
    EXPECT_TRUE(c().lastError().contains(QStringLiteral("The service failed."))) << c().lastError().toStdString();
}

// A press that first closes what a failed session left open, and its release during that close: the
// start it then begins is cancelled before the microphone opens, and the failure stays.
TEST_F(CoordinatorSessionTest, AReleaseWhileThePressClosesTheLastSessionCancelsItsStart)
{
    h.openDictation();
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("The service failed.")));
    OneShot<> closed = h.stream().disconnectGate.emplace();
    c().dismissFailure();
    c().startPushToTalk();
    h.settle();
    c().stopPushToTalk();
    h.settle();
    closed.resolve();
    h.advance(1s);

    EXPECT_EQ(h.streams.size(), 1);
    EXPECT_EQ(h.fakeRecorder.starts, 1);
    EXPECT_FALSE(c().triggerMode());
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_TRUE(h.logged(QStringLiteral("Canceled push-to-talk dictation before the session opened.")));
}

TEST_F(CoordinatorSessionTest, AServiceThatFinalizesOnItsOwnClosesTheMicrophoneAndGetsThirtySeconds)
{
    const QUuid id = h.openDictation();
    h.fakeRecorder.chunk(pcm('a'));
    h.fakeRecorder.leftover = { pcm('b') };
    h.deliver(stateChanged(id, QStringLiteral("FinalizingStt")));
    EXPECT_FALSE(h.fakeRecorder.running);
    c().stopPushToTalk();
    h.advance(29s);
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    EXPECT_EQ(h.stream().audioBytes(), pcm('a'));
    EXPECT_EQ(h.stream().count(Case::stopSession), 0);
    h.advance(1s);
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_EQ(c().lastError(), QStringLiteral("The dictation service took too long to finish the dictation."));
}

TEST_F(CoordinatorSessionTest, ACaptureThatEndsByItselfStopsAndNamesTheMicrophone)
{
    const QUuid id = h.openDictation(true);
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

    h.deliver(stateChanged(id, QStringLiteral("CompletedEmpty")));
    h.deliver(ServerStreamMessage::sessionCompleted(id));
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_TRUE(c().lastError().contains(QStringLiteral("\"USB Headset\""))) << c().lastError().toStdString();

    // Lost after some text came back: the text goes in, and the user still hears why it is short.
    const QUuid next = h.openDictation(true);
    h.fakeRecorder.end(QStringLiteral("USB Headset"), QStringLiteral("device removed"));
    h.settle();
    h.deliver(ServerStreamMessage::transcriptCommitted({ next, QStringLiteral("Half a") }));
    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(c().phase(), DictationPhase::ready);
    EXPECT_TRUE(c().lastError().contains(QStringLiteral("\"USB Headset\""))) << c().lastError().toStdString();
    EXPECT_TRUE(h.logged(c().lastError()));
}

TEST_F(CoordinatorSessionTest, EmptyDictationTextFollowsTheAudioThatWasSent)
{
    const QList<std::pair<int, QString>> rows = {
        { 0, QStringLiteral("No microphone audio reached Tessvale.") },
        { 8000, QStringLiteral("That dictation ended before enough audio reached Tessvale.") },
        { 20000, QStringLiteral("Tessvale received very quiet audio.") },
    };
    for (const auto& [bytes, expectedStart] : rows) {
        const QUuid id = h.openDictation();
        for (int i = 0; i < 5; ++i)
            h.fakeRecorder.level(0.01f);
        if (bytes > 0)
            h.fakeRecorder.chunk(pcm('s', bytes));
        h.settle();
        h.deliver(stateChanged(id, QStringLiteral("CompletedEmpty"), QStringLiteral("nothing heard")));
        EXPECT_TRUE(c().lastError().startsWith(expectedStart)) << bytes;
        EXPECT_EQ(c().phase(), DictationPhase::ready);
        h.deliver(ServerStreamMessage::sessionCompleted(id));
    }
}

} // namespace
