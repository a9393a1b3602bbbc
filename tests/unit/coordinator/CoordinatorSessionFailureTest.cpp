#include <algorithm>
#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "audio/AudioCaptureError.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/ServerStreamMessage.h"
#include "coordinator/CoordinatorHelpers.h"
#include "insertion/TextInsertionTypes.h"
#include "support/auth/InMemorySecretStore.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;
using Case = ClientStreamMessage::Case;

namespace {

const QString kExpired = QStringLiteral("Saved session expired before dictation could start");
const QString kRecovered = QStringLiteral(" Recovered the latest transcript so you can copy or retry it.");

template <typename E> std::exception_ptr ptr(E error)
{
    return std::make_exception_ptr(std::move(error));
}

DictationSessionRecoveryResponse recovery(std::optional<QString> raw, std::optional<QString> final)
{
    DictationSessionRecoveryResponse response;
    response.hasRecoverableText = true;
    response.rawText = std::move(raw);
    response.finalText = std::move(final);
    return response;
}

std::function<std::exception_ptr(const ClientStreamMessage&)> failingStart(std::exception_ptr error)
{
    return [error](const ClientStreamMessage& message) {
        return message.messageCase() == Case::startSession ? error : nullptr;
    };
}

class CoordinatorSessionFailureTest : public ::testing::Test
{
protected:
    void SetUp() override { h.prepareDictation(); }

    DictationCoordinator& c() { return h.coordinator(); }
    void answerRecovery(DictationSessionRecoveryResponse response)
    {
        h.recoveryAnswer = CloudAnswer<DictationSessionRecoveryResponse> { std::move(response), {}, {} };
    }

    CoordinatorHarness h;
};

TEST(CoordinatorSessionStartFailureTest, EveryStartFailureEndsAsItsRowSays)
{
    struct Row
    {
        const char* name;
        std::function<void(CoordinatorHarness&)> arrange;
        // Shown in error; none: signed out with the expired-session text.
        std::exception_ptr shown;
        bool reported;
    };
    const std::exception_ptr refused401 = ptr(CloudTransportError::refusedOpening(401));
    const std::exception_ptr lost = ptr(CloudTransportError(CloudTransportError::Code::connectionLost, "Lost."));
    const QList<Row> rows = {
        { "microphone denied", [](auto& h) { h.microphoneStatus = MicrophoneAuthorizationStatus::denied; },
            ptr(AudioCaptureError::inputUnavailable()), false },
        { "microphone refused",
            [](auto& h) {
                h.microphoneStatus = MicrophoneAuthorizationStatus::notDetermined;
                h.microphoneRequestGrants = false;
            },
            ptr(AudioCaptureError::inputUnavailable()), false },
        { "accessibility", [](auto& h) { h.accessibilityTrusted = false; },
            ptr(TextInsertionError(TextInsertionError::missingAccessibilityPermission)), false },
        { "no stored key", [](auto& h) { h.storeAPIKey(QString()); }, ptr(CloudClientError::missingAPIKey()), false },
        { "key rejected",
            [](auto& h) { h.meAnswer.error = ptr(CloudClientError::requestFailed(401, QStringLiteral("no"))); },
            nullptr, false },
        { "account fails",
            [](auto& h) { h.meAnswer.error = ptr(CloudClientError::requestFailed(503, QStringLiteral("down"))); },
            ptr(CloudClientError::requestFailed(503, QStringLiteral("down"))), true },
        { "recorder fails", [](auto& h) { h.fakeRecorder.startError = ptr(AudioCaptureError::converterUnavailable()); },
            ptr(AudioCaptureError::converterUnavailable()), true },
        { "start message fails", [&](auto& h) { h.streamSendFailure = failingStart(lost); }, lost,
            shouldReportError(lost) },
        { "stream refuses the key", [&](auto& h) { h.streamSendFailure = failingStart(refused401); }, nullptr, false },
    };
    for (const Row& row : rows) {
        CoordinatorHarness h;
        h.prepareDictation();
        row.arrange(h);
        h.coordinator().startPushToTalk();
        h.settle();
        DictationCoordinator& c = h.coordinator();
        SCOPED_TRACE(row.name);
        if (row.shown) {
            EXPECT_EQ(c.phase(), DictationPhase::error);
            EXPECT_EQ(c.lastError(), localizedDescription(row.shown));
            EXPECT_TRUE(h.logged(QStringLiteral("Failed to start recording: ") + localizedDescription(row.shown)));
        } else {
            EXPECT_EQ(c.phase(), DictationPhase::signedOut);
            EXPECT_EQ(c.lastError(), kExpired);
            EXPECT_FALSE(h.storedAPIKey());
            // The rejected key is forgotten, not only deleted: a press fails, and why the user was
            // signed out stays the error. (The first press dismisses what the HUD tells.)
            EXPECT_TRUE(c.isShowingFailure());
            c.startPushToTalk();
            h.settle();
            EXPECT_FALSE(c.isShowingFailure());
            c.startPushToTalk();
            h.settle();
            EXPECT_EQ(c.phase(), DictationPhase::error);
            EXPECT_EQ(c.lastError(), kExpired);
        }
        EXPECT_EQ(h.reports.size(), row.reported ? 1 : 0);
        EXPECT_FALSE(c.triggerMode());
        EXPECT_FALSE(DictationCoordinatorTestAccess::sessionID(c));
        EXPECT_FALSE(h.fakeRecorder.running);
    }
}

TEST_F(CoordinatorSessionFailureTest, ADroppedStreamRecoversOnceWithTheMicrophoneClosed)
{
    answerRecovery(recovery(QStringLiteral(" raw words "), QStringLiteral("  Final words.\n")));
    bool microphoneOpenAtFetch = true;
    h.onRecoveryFetch = [&] { microphoneOpenAtFetch = h.fakeRecorder.running; };
    const QUuid id = h.openDictation();
    h.stream().terminate();
    h.settle();

    EXPECT_FALSE(microphoneOpenAtFetch);
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_EQ(c().lastError(), QStringLiteral("The dictation connection closed unexpectedly.") + kRecovered);
    EXPECT_EQ(c().finalTranscript(), QStringLiteral("Final words."));
    EXPECT_EQ(c().rawTranscript(), QStringLiteral("raw words"));
    EXPECT_TRUE(c().canRetryFailedInsertion());
    EXPECT_EQ(h.cloudCalls.value(QStringLiteral("recovery")), 1);
    EXPECT_TRUE(h.logged(QStringLiteral("Recovered transcript for session %1 (12 chars).")
                             .arg(id.toString(QUuid::WithoutBraces).toUpper())));

    c().retryFailedInsertion();
    h.settle();
    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Final words."));
}

TEST_F(CoordinatorSessionFailureTest, BlankRecoveredTextIsNoRecovery)
{
    answerRecovery(recovery(QStringLiteral("  "), QStringLiteral("\n")));
    h.openDictation();
    h.stream().terminate(ptr(CloudTransportError(CloudTransportError::Code::connectionLost, "Connection lost.")));
    h.settle();
    EXPECT_EQ(c().lastError(), QStringLiteral("Connection lost."));
    EXPECT_FALSE(c().canRetryFailedInsertion());
    EXPECT_TRUE(c().transcriptHistory().isEmpty());
}

TEST_F(CoordinatorSessionFailureTest, ACommitRacingARecoveryInsertsOnceAndKeepsOneRow)
{
    answerRecovery(recovery(std::nullopt, QStringLiteral("Recovered.")));
    h.recoveryAnswer->gate = OneShot<>();
    const QUuid id = h.openDictation();
    h.deliver(ServerStreamMessage::sessionError(QStringLiteral("Transcriber hiccup")));
    h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Committed.") }));
    h.recoveryAnswer->gate->resolve();
    h.advance(1s);

    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Committed."));
    EXPECT_EQ(c().transcriptHistory().size(), 1);
    EXPECT_FALSE(c().canRetryFailedInsertion());
    EXPECT_EQ(c().phase(), DictationPhase::ready);
}

TEST_F(CoordinatorSessionFailureTest, ServerTextIsBoundedAndKeyFree)
{
    const QUuid id = h.openDictation();
    const QString key = QStringLiteral("tv_live_abcdefghijklmnop");
    h.deliver(ServerStreamMessage::sessionStateChanged(
        { id, FSharpUnionCase(QStringLiteral("Failed")), QString(4000, QLatin1Char('x')) + key }));
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_LE(c().lastError().size(), 520);
    for (const QString& line : h.activityMessages() + h.breadcrumbs)
        EXPECT_FALSE(line.contains(key));
}

TEST_F(CoordinatorSessionFailureTest, TimersEndSessionsThatWouldNeverFinish)
{
    // The start time-out.
    h.openDictation(false, false);
    h.advance(10s);
    EXPECT_EQ(c().lastError(), QStringLiteral("Tessvale took too long to start the dictation session."));
    EXPECT_TRUE(h.stream().disconnected);

    // A stopped session the service never completes ends after 30 s with its own text, and the next
    // start is not blocked.
    h.openDictation();
    c().stopPushToTalk();
    h.settle();
    h.advance(175ms);
    ASSERT_EQ(h.stream().count(Case::stopSession), 1);
    h.advance(29s);
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    h.advance(1s);
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_EQ(c().lastError(), QStringLiteral("The dictation service took too long to finish the dictation."));
    EXPECT_EQ(h.cloudCalls.value(QStringLiteral("recovery")), 1);
    h.openDictation();
    EXPECT_EQ(c().phase(), DictationPhase::recording);

    // What a completed session leaves behind gives way to the next start.
    h.deliver(ServerStreamMessage::sessionStateChanged(
        { h.stream().sessionID(), FSharpUnionCase(QStringLiteral("Completed")), std::nullopt }));
    h.openDictation();
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(h.logged(QStringLiteral("Closing the previous dictation session before starting a new one.")));
}

TEST_F(CoordinatorSessionFailureTest, ASignOutDuringTheStartEndsItQuietly)
{
    h.meAnswer.gate = OneShot<>();
    c().startPushToTalk();
    h.settle();
    c().signOut();
    h.settle();
    h.meAnswer.gate->resolve();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::signedOut);
    EXPECT_TRUE(c().lastError().isEmpty());
    EXPECT_EQ(h.transportsMade, 0);
    for (const QString& line : h.activityMessages())
        EXPECT_FALSE(line.startsWith(QStringLiteral("Failed to start recording"))) << line.toStdString();
}

TEST_F(CoordinatorSessionFailureTest, ASignInDuringTheStartCarriesItOnWithTheNewAccount)
{
    h.meAnswer.gate = OneShot<>();
    c().startPushToTalk();
    h.settle();
    c().beginSignIn();
    h.settle();
    QUrl callback = nativeAuthRedirectURI();
    callback.setQuery(QStringLiteral("code=abc&state=") + h.lastStart.value(4));
    c().handleExternalAuthCallback(callback);
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::ready);

    h.meAnswer.gate->resolve();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::starting);
    EXPECT_TRUE(c().lastError().isEmpty());
    ASSERT_EQ(h.streams.size(), 1);
    EXPECT_EQ(h.stream().count(Case::startSession), 1);
    EXPECT_TRUE(h.fakeRecorder.running);
}

TEST_F(CoordinatorSessionFailureTest, AStreamThatRefusesTheKeySignsOutOnce)
{
    // As the real connection does: the start message waiting for the opening fails, then the end is
    // reported, while the keyring takes its time.
    const std::exception_ptr refused = ptr(CloudTransportError::refusedOpening(401));
    h.streamSendFailure = [this, refused](const ClientStreamMessage& message) {
        if (message.messageCase() != Case::startSession)
            return std::exception_ptr();
        h.secrets().hold();
        h.stream().terminate(refused);
        return refused;
    };
    c().startPushToTalk();
    h.settle();
    h.secrets().release();
    h.settle();

    EXPECT_EQ(c().phase(), DictationPhase::signedOut);
    EXPECT_EQ(c().lastError(), kExpired);
    EXPECT_EQ(std::count_if(h.secrets().calls().begin(), h.secrets().calls().end(),
                  [](const auto& call) { return call.call == InMemorySecretStore::Call::deleteItem; }),
        1);
    const QStringList log = h.activityMessages();
    EXPECT_EQ(log.filter(QStringLiteral("Cleared local credentials.")).size(), 1);
    EXPECT_TRUE(log.filter(QStringLiteral("Failed to remove")).isEmpty());
}

TEST_F(CoordinatorSessionFailureTest, ATeardownThatFinishesAfterANewStartLeavesTheNewSessionAlone)
{
    const QUuid first = h.openDictation();
    h.stream().disconnectGate = OneShot<>();
    OneShot<> closed = *h.stream().disconnectGate;
    h.deliver(ServerStreamMessage::sessionStateChanged({ first, FSharpUnionCase(QStringLiteral("Completed")), {} }));
    h.deliver(ServerStreamMessage::sessionCompleted(first));
    h.openDictation();
    ASSERT_EQ(c().phase(), DictationPhase::recording);

    closed.resolve();
    h.settle();
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(h.fakeRecorder.running);
}

// A failure waiting for the session's recovery fetch ends with the coordinator, or, once a sign-out has
// torn the session down, when that fetch ends.
TEST(CoordinatorRecoveryWaitTest, AFailureWaitingForTheRecoveryEndsWithTheFetchOrTheCoordinator)
{
    for (const bool signOut : { false, true }) {
        SCOPED_TRACE(signOut ? "signed out, then the fetch ends" : "the coordinator goes");
        auto target = std::make_shared<const FocusedInsertionTarget>(
            FocusedApplicationTarget { QStringLiteral("Editor"), 4242 }, AccessibilityElement(), AccessibilityElement(),
            std::nullopt, std::nullopt, false);
        const std::weak_ptr<const FocusedInsertionTarget> watched = target;
        {
            CoordinatorHarness h;
            h.prepareDictation();
            h.focusTarget = std::exchange(target, nullptr);
            h.recoveryAnswer
                = CloudAnswer<DictationSessionRecoveryResponse> { recovery({}, QStringLiteral("x")), {}, OneShot<>() };
            const QUuid id = h.openDictation();
            h.focusTarget = nullptr;
            // The error fetches; the failed state that follows waits for that fetch's answer.
            h.deliver(ServerStreamMessage::sessionError(QStringLiteral("Engine fault.")));
            h.deliver(ServerStreamMessage::sessionStateChanged({ id, FSharpUnionCase(QStringLiteral("Failed")), {} }));
            ASSERT_EQ(h.cloudCalls.value(QStringLiteral("recovery")), 1);
            if (signOut) {
                h.coordinator().signOut();
                h.settle();
                ASSERT_FALSE(DictationCoordinatorTestAccess::sessionID(h.coordinator()));
                h.recoveryAnswer->gate->resolve();
                h.settle();
                EXPECT_TRUE(watched.expired());
            }
        }
        // Every coroutine that held the session's target has ended.
        EXPECT_TRUE(watched.expired());
    }
}

TEST_F(CoordinatorSessionFailureTest, KeepAliveRunsOnTheConfiguredIntervalAndAFailedPingEndsTheSession)
{
    const QUuid id = h.openDictation();
    h.advance(14s);
    EXPECT_EQ(h.stream().count(Case::ping), 0);
    h.advance(1s);
    ASSERT_EQ(h.stream().count(Case::ping), 1);
    EXPECT_EQ(h.stream().sent.last().text(), id.toString(QUuid::WithoutBraces));

    h.stream().sendFailure = [](const ClientStreamMessage& message) {
        return message.messageCase() == Case::ping ? ptr(CloudClientError::invalidResponse(QStringLiteral("gone")))
                                                   : nullptr;
    };
    h.advance(15s);
    EXPECT_EQ(c().phase(), DictationPhase::error);
    EXPECT_EQ(c().lastError(), QStringLiteral("gone"));

    CoordinatorHarness quiet;
    quiet.prepareDictation();
    quiet.configAnswer.value->webSocketPingIntervalSeconds = 0;
    quiet.openDictation(true);
    quiet.advance(60s);
    EXPECT_EQ(quiet.stream().count(Case::ping), 0);
}

TEST_F(CoordinatorSessionFailureTest, ChunksUpToTheLimitAreSentAndOneByteMoreFails)
{
    h.openDictation();
    h.fakeRecorder.chunk(QByteArray(32000, 'a'));
    h.settle();
    EXPECT_EQ(h.stream().count(Case::audioChunk), 1);
    h.fakeRecorder.chunk(QByteArray(32001, 'a'));
    h.settle();
    EXPECT_EQ(h.stream().count(Case::audioChunk), 1);
    EXPECT_EQ(c().lastError(), QStringLiteral("Audio chunk exceeded cloud max size."));
    EXPECT_FALSE(h.fakeRecorder.running);
}

TEST_F(CoordinatorSessionFailureTest, LateEventsOfAnOldSessionLeaveTheNewOneAlone)
{
    const QUuid first = h.openDictation();
    h.stream().terminate();
    h.settle();
    const std::shared_ptr<CoordinatorHarness::ScriptedStream> old = h.streams.last();
    const QUuid second = h.openDictation();
    old->deliver(ServerStreamMessage::partialTranscript({ first, QStringLiteral("old") }));
    old->deliver(ServerStreamMessage::sessionError(QStringLiteral("old failure")));
    old->terminate();
    h.settle();

    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(c().partialTranscript().isEmpty());
    EXPECT_TRUE(c().lastError().isEmpty());
    EXPECT_TRUE(h.logged(
        QStringLiteral("Ignoring PartialTranscript for stale session %1. Active session is %2.")
            .arg(first.toString(QUuid::WithoutBraces).toUpper(), second.toString(QUuid::WithoutBraces).toUpper())));
}

} // namespace
