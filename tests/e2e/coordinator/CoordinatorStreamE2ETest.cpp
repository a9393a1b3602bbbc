#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>

#include "audio/AudioCaptureError.h"
#include "cloud/CloudAPIClient.h"
#include "cloud/CloudClientError.h"
#include "coordinator/CoordinatorHelpers.h"
#include "coordinator/CoordinatorSeams.h"
#include "insertion/TextInsertionTypes.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;

namespace tessvale {
namespace {

const QString kRecovered = QStringLiteral(" Recovered the latest transcript so you can copy or retry it.");

struct Frame
{
    QString caseName;
    QJsonValue field;
};

QJsonObject state(const QString& sessionID, const QString& name, const QString& detail = {})
{
    QJsonObject payload { { QStringLiteral("SessionId"), sessionID },
        { QStringLiteral("State"), QJsonObject { { QStringLiteral("Case"), name } } } };
    if (!detail.isEmpty())
        payload.insert(QStringLiteral("Detail"), detail);
    return payload;
}

// The real coordinator over the real streaming connection and the real REST client to the fake
// service over TLS; the recorder and the inserter are fakes, the coordinator's timers run on virtual
// time.
class CoordinatorStreamE2ETest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        FakeCloudFixture::SetUp();
        qputenv("TESSVALE_REST_ORIGIN", server().restOrigin().toString().toUtf8());
        CloudAPIClient::Options options;
        options.sslConfiguration = clientSsl();
        options.decoder = WireDecoder(trustedDomain);
        m_client = std::make_unique<CloudAPIClient>(&m_network, options);
        m_h = makeHarness();
    }

    void TearDown() override
    {
        m_h.reset();
        qunsetenv("TESSVALE_REST_ORIGIN");
        FakeCloudFixture::TearDown();
    }

    // A user with the key the service accepts, whose coordinator has not fetched the account yet.
    std::unique_ptr<CoordinatorHarness> makeHarness()
    {
        auto harness = std::make_unique<CoordinatorHarness>();
        harness->prepareDictation();
        harness->storeAPIKey(server().acceptedApiKey());
        harness->services().cloud = CoordinatorCloud::over(*m_client);
        CloudWebSocketSession::Options options;
        options.sslConfiguration = clientSsl();
        options.sleeper = &harness->sleeper();
        harness->services().webSocketFactory = cloudWebSocketTransportFactory(options);
        return harness;
    }

    CoordinatorHarness& h() { return *m_h; }
    DictationCoordinator& c() { return m_h->coordinator(); }
    FakeCloudStreamService& stream() { return server().stream(); }
    QString sessionID() { return stream().sessionID(); }

    QList<Frame> frames(int connection = -1)
    {
        QList<Frame> result;
        for (const QString& text : stream().connection(connection).textFrames) {
            const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
            result.append({ envelope.value(QStringLiteral("Case")).toString(),
                envelope.value(QStringLiteral("Fields")).toArray().at(0) });
        }
        return result;
    }

    int count(const QString& caseName, int connection = -1)
    {
        int n = 0;
        for (const Frame& frame : frames(connection))
            n += frame.caseName == caseName ? 1 : 0;
        return n;
    }

    int recoveryFetches()
    {
        int n = 0;
        for (const FakeHttpRequest& request : server().requests())
            n += request.path.endsWith(QStringLiteral("/recovery")) ? 1 : 0;
        return n;
    }

    // The service's configuration, with the figures a test needs.
    void configure(int maxChunkBytes, int pingIntervalSeconds)
    {
        QJsonObject config = QJsonDocument::fromJson(server().configBody()).object();
        config.insert(QStringLiteral("MaxChunkBytes"), maxChunkBytes);
        config.insert(QStringLiteral("WebSocketPingIntervalSeconds"), pingIntervalSeconds);
        server().setResponse("GET", QStringLiteral("/client/v1/config"),
            FakeHttpResponse::json(200, QJsonDocument(config).toJson(QJsonDocument::Compact)));
    }

    // The service kept text for the current session.
    void keepRecoverableText(const QString& finalText)
    {
        const QJsonObject body { { QStringLiteral("SessionId"), sessionID() },
            { QStringLiteral("Status"), QJsonObject { { QStringLiteral("Case"), QStringLiteral("Failed") } } },
            { QStringLiteral("RawText"), finalText }, { QStringLiteral("FinalText"), finalText },
            { QStringLiteral("HasRecoverableText"), true } };
        server().setResponse("GET", QStringLiteral("/client/v1/dictation-sessions/%1/recovery").arg(sessionID()),
            FakeHttpResponse::json(200, QJsonDocument(body).toJson(QJsonDocument::Compact)));
    }

    // Chunks and levels pushed from a thread of their own, as the capture's worker pushes them.
    void capture(const QList<QByteArray>& chunks, const QList<float>& levels = {})
    {
        std::thread worker([&] {
            for (const float level : levels)
                h().fakeRecorder.level(level);
            for (const QByteArray& chunk : chunks)
                h().fakeRecorder.chunk(chunk);
        });
        worker.join();
    }

    bool phaseBecomes(DictationPhase phase)
    {
        return waitUntil([&] { return c().phase() == phase; });
    }

    void openHandsFree()
    {
        // A failure the HUD still shows would take the toggle as its dismissal.
        c().dismissFailure();
        c().toggleHandsFree();
        ASSERT_TRUE(phaseBecomes(DictationPhase::recording));
    }

    // A stop through its shortcut, past the grace the recorder gets for its last audio.
    void stopAfterGrace(const std::function<void()>& stop)
    {
        stop();
        h().settle();
        h().advance(175ms);
    }

    // AudioChunk bytes of one connection, in sending order; sequence numbers from 0 without gaps.
    QByteArray sentAudio(int connection = -1)
    {
        QByteArray audio;
        qint64 expected = 0;
        for (const Frame& frame : frames(connection)) {
            if (frame.caseName != QStringLiteral("AudioChunk"))
                continue;
            EXPECT_EQ(frame.field[QStringLiteral("Sequence")].toInteger(), expected++);
            audio += QByteArray::fromBase64(frame.field[QStringLiteral("DataBase64")].toString().toLatin1());
        }
        return audio;
    }

    QNetworkAccessManager m_network;
    std::unique_ptr<CloudAPIClient> m_client;
    std::unique_ptr<CoordinatorHarness> m_h;
};

TEST_F(CoordinatorStreamE2ETest, PushToTalkStreamsInOrderAndInsertsTheCommittedText)
{
    stream().setCommittedText(QStringLiteral("Typed by the fake cloud."));
    stream().setCloseAfterCompletion(true);
    c().startPushToTalk();
    // Recorded before the service confirmed the session.
    ASSERT_TRUE(waitUntil([&] { return h().fakeRecorder.running; }));
    capture({ QByteArray(3200, 'a') });
    ASSERT_TRUE(phaseBecomes(DictationPhase::recording));
    QList<QByteArray> later;
    for (char fill = 'b'; fill <= 'k'; ++fill)
        later.append(QByteArray(3200, fill));
    capture(later);
    ASSERT_TRUE(waitUntil([&] { return frames().size() == 12; }));
    h().fakeRecorder.leftover = { QByteArray(1000, 'z') };
    stopAfterGrace([&] { c().stopPushToTalk(); });
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::ready && !h().insertions.isEmpty(); }));
    ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));

    const QList<Frame> sent = frames();
    EXPECT_EQ(sent.first().caseName, QStringLiteral("StartSession"));
    EXPECT_EQ(sent.last().caseName, QStringLiteral("StopSession"));
    EXPECT_EQ(count(QStringLiteral("StopSession")), 1);
    QByteArray expected(3200, 'a');
    for (const QByteArray& chunk : later)
        expected += chunk;
    expected += QByteArray(1000, 'z');
    EXPECT_EQ(sentAudio(), expected);
    EXPECT_EQ(stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);
    ASSERT_EQ(h().insertions.size(), 1);
    EXPECT_EQ(h().insertions.first().text, QStringLiteral("Typed by the fake cloud."));
    EXPECT_TRUE(c().lastError().isEmpty());
}

TEST_F(CoordinatorStreamE2ETest, HandsFreeTogglesAndAPromotedPushToTalkStopsOnlyByTheToggle)
{
    // Hands-free: the toggle starts, the toggle stops.
    openHandsFree();
    capture({ QByteArray(3200, 'h') });
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("AudioChunk")) == 1; }));
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::ready; }));
    EXPECT_EQ(frames().last().caseName, QStringLiteral("StopSession"));
    EXPECT_EQ(sentAudio(), QByteArray(3200, 'h'));

    // Held push-to-talk, promoted by the toggle: the release is ignored, the toggle stops it.
    c().startPushToTalk();
    ASSERT_TRUE(phaseBecomes(DictationPhase::recording));
    c().toggleHandsFree();
    h().settle();
    EXPECT_TRUE(h().logged(QStringLiteral("Promoted push-to-talk session to hands-free.")));
    stopAfterGrace([&] { c().stopPushToTalk(); });
    EXPECT_TRUE(h().logged(QStringLiteral("Ignored push-to-talk stop because push-to-talk is not active.")));
    capture({ QByteArray(3200, 'p') });
    spinEventLoop(100ms);
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_TRUE(h().fakeRecorder.running);
    EXPECT_EQ(count(QStringLiteral("StopSession")), 0);
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 2 && c().phase() == DictationPhase::ready; }));
    EXPECT_EQ(sentAudio(), QByteArray(3200, 'p'));
    EXPECT_EQ(stream().connectionCount(), 2);
}

TEST_F(CoordinatorStreamE2ETest, ACancelBeforeTheSessionOpenedMakesNoConnection)
{
    // The second toggle lands while the start still fetches the account.
    c().toggleHandsFree();
    c().toggleHandsFree();
    ASSERT_TRUE(waitUntil(
        [&] { return h().logged(QStringLiteral("Canceled hands-free dictation before the session opened.")); }));
    spinEventLoop(100ms);
    EXPECT_EQ(stream().connectionCount(), 0);
    EXPECT_EQ(h().fakeRecorder.starts, 0);
    EXPECT_FALSE(c().triggerMode());
    // The account fetched by the start signed the user in.
    EXPECT_EQ(c().phase(), DictationPhase::ready);
}

TEST_F(CoordinatorStreamE2ETest, ALateSessionRestoreLeavesTheDictationAloneOrEndsItBeforeSigningOut)
{
    for (const bool rejected : { false, true }) {
        SCOPED_TRACE(rejected ? "rejected" : "accepted");
        server().clearResponses();
        m_h = makeHarness();
        // The launch's account request is held back while the user dictates.
        server().holdNext("GET", QStringLiteral("/client/v1/me"));
        DictationCoordinatorTestAccess::restoreSavedSession(c());
        ASSERT_TRUE(waitUntil([&] { return server().heldCount() == 1; }));
        openHandsFree();
        if (rejected) {
            server().setResponse(
                "GET", QStringLiteral("/client/v1/me"), FakeHttpResponse::json(401, R"({"error":"Invalid API key"})"));
        }
        server().releaseHeld();
        ASSERT_TRUE(waitUntil([&] { return c().didFinishSessionBootstrap(); }));
        if (!rejected) {
            spinEventLoop(50ms);
            EXPECT_EQ(c().phase(), DictationPhase::recording);
            EXPECT_TRUE(h().fakeRecorder.running);
            stopAfterGrace([&] { c().toggleHandsFree(); });
            ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::ready; }));
            continue;
        }
        ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
        EXPECT_EQ(count(QStringLiteral("CancelSession")), 1);
        EXPECT_FALSE(h().fakeRecorder.running);
        EXPECT_EQ(c().phase(), DictationPhase::signedOut);
        EXPECT_FALSE(h().storedAPIKey());
    }
}

TEST_F(CoordinatorStreamE2ETest, AnEarlyReleaseKeepsItsStopWhenTheServiceConfirmsInsideTheGrace)
{
    stream().setAutoRespond(false);
    c().startPushToTalk();
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("StartSession")) == 1; }));
    capture({ QByteArray(3200, 'e') });
    c().stopPushToTalk();
    h().settle();
    ASSERT_EQ(c().phase(), DictationPhase::finalizing);
    // The confirmation arrives while the stop waits for the recorder's last audio.
    stream().sendMessage(QStringLiteral("SessionStarted"), { sessionID() });
    stream().sendMessage(QStringLiteral("SessionStateChanged"), { state(sessionID(), QStringLiteral("Recording")) });
    ASSERT_TRUE(waitUntil([&] {
        return h().logged(QStringLiteral("Server state for ") + sessionID().toUpper() + QStringLiteral(": Recording"));
    }));
    EXPECT_EQ(c().phase(), DictationPhase::finalizing);
    stream().setAutoRespond(true);
    h().advance(175ms);
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::ready; }));
    EXPECT_FALSE(h().fakeRecorder.running);
    EXPECT_EQ(count(QStringLiteral("StopSession")), 1);
    EXPECT_EQ(frames().last().caseName, QStringLiteral("StopSession"));
    EXPECT_EQ(sentAudio(), QByteArray(3200, 'e'));
}

TEST_F(CoordinatorStreamE2ETest, AServerErrorMidStreamEndsTheSessionWithOrWithoutRecoveredText)
{
    for (const bool kept : { false, true }) {
        SCOPED_TRACE(kept ? "recovered" : "nothing kept");
        openHandsFree();
        if (kept)
            keepRecoverableText(QStringLiteral("Kept by the service."));
        stream().sendMessage(QStringLiteral("SessionError"), { QStringLiteral("Speech engine unavailable.") });
        ASSERT_TRUE(phaseBecomes(DictationPhase::error));
        h().settle();
        EXPECT_FALSE(h().fakeRecorder.running);
        EXPECT_EQ(c().lastError(), QStringLiteral("Speech engine unavailable.") + (kept ? kRecovered : QString()));
        EXPECT_EQ(c().canRetryFailedInsertion(), kept);
        // The socket stays open a moment for a commit that may follow, then closes.
        h().advance(150ms);
        ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
        EXPECT_EQ(stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);
    }
    EXPECT_EQ(recoveryFetches(), 2);
    c().retryFailedInsertion();
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::ready; }));
    EXPECT_EQ(h().insertions.first().text, QStringLiteral("Kept by the service."));
}

TEST_F(CoordinatorStreamE2ETest, ADroppedConnectionRecoversTheTranscriptOnceForARetry)
{
    openHandsFree();
    keepRecoverableText(QStringLiteral("Saved on the service."));
    stream().drop();
    ASSERT_TRUE(phaseBecomes(DictationPhase::error));
    EXPECT_TRUE(c().lastError().endsWith(kRecovered));
    EXPECT_FALSE(h().fakeRecorder.running);

    c().retryFailedInsertion();
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1; }));
    EXPECT_EQ(h().insertions.first().text, QStringLiteral("Saved on the service."));
    EXPECT_EQ(recoveryFetches(), 1);
}

TEST_F(CoordinatorStreamE2ETest, RecoveryIsFetchedOncePerSessionAndAwaitedByEachFailure)
{
    for (int session = 1; session <= 2; ++session) {
        openHandsFree();
        keepRecoverableText(QStringLiteral("Kept text %1.").arg(session));
        // An error, then the service's failed state for the same session while the fetch is out.
        stream().sendMessage(QStringLiteral("SessionError"), { QStringLiteral("Engine fault.") });
        stream().sendMessage(QStringLiteral("SessionStateChanged"), { state(sessionID(), QStringLiteral("Failed")) });
        ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
        spinEventLoop(100ms);
        EXPECT_EQ(recoveryFetches(), session);
        EXPECT_EQ(c().phase(), DictationPhase::error);
        EXPECT_TRUE(c().lastError().endsWith(kRecovered)) << c().lastError().toStdString();
        EXPECT_TRUE(c().canRetryFailedInsertion());
    }
}

TEST_F(CoordinatorStreamE2ETest, TheServiceNeverConfirmingTimesTheStartOut)
{
    stream().setAutoRespond(false);
    c().startPushToTalk();
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("StartSession")) == 1; }));
    capture({ QByteArray(3200, 't') });
    h().advance(9s);
    EXPECT_EQ(c().phase(), DictationPhase::starting);
    h().advance(1s);
    ASSERT_TRUE(phaseBecomes(DictationPhase::error));
    EXPECT_EQ(c().lastError(), QStringLiteral("Tessvale took too long to start the dictation session."));
    EXPECT_FALSE(h().fakeRecorder.running);
    ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
    EXPECT_EQ(count(QStringLiteral("AudioChunk")), 0);
}

TEST_F(CoordinatorStreamE2ETest, AFailedInsertionIsRetriedAndARetryRacingACommitInsertsOnce)
{
    // The text did not reach the target: the retry inserts it.
    h().insertionError = std::make_exception_ptr(TextInsertionError(TextInsertionError::transcriptNotDelivered));
    openHandsFree();
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::error; }));
    ASSERT_TRUE(c().canRetryFailedInsertion());
    h().insertionError = nullptr;
    c().retryFailedInsertion();
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 2 && c().phase() == DictationPhase::ready; }));
    EXPECT_EQ(h().insertions.at(1).text, h().insertions.at(0).text);

    // A recovery offers the text; the user retries as the service's commit of it arrives.
    h().insertions.clear();
    openHandsFree();
    keepRecoverableText(QStringLiteral("Raced words."));
    stream().sendMessage(QStringLiteral("SessionError"), { QStringLiteral("Late engine.") });
    ASSERT_TRUE(waitUntil([&] { return c().canRetryFailedInsertion(); }));
    h().insertionGate = OneShot<>();
    stream().sendMessage(QStringLiteral("TranscriptCommitted"),
        { QJsonObject { { QStringLiteral("SessionId"), sessionID() },
            { QStringLiteral("FinalText"), QStringLiteral("Raced words.") } } });
    c().retryFailedInsertion();
    spinEventLoop(200ms);
    h().insertionGate->resolve();
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::ready; }));
    spinEventLoop(100ms);
    h().settle();
    EXPECT_EQ(h().insertions.size(), 1);
    EXPECT_EQ(c().transcriptHistory().count(), 2);
}

TEST_F(CoordinatorStreamE2ETest, MessagesOfAStaleSessionAreIgnored)
{
    openHandsFree();
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 1 && c().phase() == DictationPhase::ready; }));
    const QString old = sessionID();

    openHandsFree();
    stream().sendMessage(QStringLiteral("TranscriptCommitted"),
        { QJsonObject {
            { QStringLiteral("SessionId"), old }, { QStringLiteral("FinalText"), QStringLiteral("Old.") } } });
    stream().sendMessage(
        QStringLiteral("SessionStateChanged"), { state(old, QStringLiteral("Failed"), QStringLiteral("old")) });
    stream().sendMessage(QStringLiteral("SessionCompleted"), { old });
    ASSERT_TRUE(waitUntil([&] {
        return h().logged(QStringLiteral("Ignoring SessionCompleted for stale session ") + old.toUpper()
            + QStringLiteral(". Active session is ") + sessionID().toUpper() + QLatin1Char('.'));
    }));
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    EXPECT_EQ(h().insertions.size(), 1);
    EXPECT_TRUE(h().fakeRecorder.running);
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return h().insertions.size() == 2 && c().phase() == DictationPhase::ready; }));
}

TEST_F(CoordinatorStreamE2ETest, KeepAliveFollowsTheConfiguredIntervalAndARefusedPingEndsTheSession)
{
    // No keep-alive at all with an interval of 0.
    configure(32000, 0);
    openHandsFree();
    h().advance(60s);
    spinEventLoop(100ms);
    EXPECT_EQ(count(QStringLiteral("Ping")), 0);
    stopAfterGrace([&] { c().toggleHandsFree(); });
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::ready; }));

    // The first ping 15 s in, and answered.
    configure(32000, 15);
    m_h = makeHarness();
    openHandsFree();
    h().advance(14s);
    spinEventLoop(50ms);
    EXPECT_EQ(count(QStringLiteral("Ping")), 0);
    h().advance(1s);
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("Ping")) == 1; }));
    EXPECT_EQ(frames().last().field.toString().toUpper(), sessionID().toUpper());
    spinEventLoop(50ms);
    EXPECT_EQ(c().phase(), DictationPhase::recording);

    // The next one ends the connection: the session ends, once, with the microphone closed.
    stream().setDropOnPing(true);
    h().advance(15s);
    ASSERT_TRUE(phaseBecomes(DictationPhase::error));
    EXPECT_FALSE(h().fakeRecorder.running);
    EXPECT_EQ(recoveryFetches(), 1);
    h().advance(15s);
    spinEventLoop(50ms);
    EXPECT_EQ(count(QStringLiteral("Ping")), 2);
}

TEST_F(CoordinatorStreamE2ETest, ChunksUpToTheLimitAreSentAndOneByteMoreEndsTheSession)
{
    configure(6400, 15);
    openHandsFree();
    capture({ QByteArray(6400, 'l') });
    ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("AudioChunk")) == 1; }));
    EXPECT_EQ(c().phase(), DictationPhase::recording);
    capture({ QByteArray(6401, 'o') });
    ASSERT_TRUE(phaseBecomes(DictationPhase::error));
    EXPECT_EQ(c().lastError(), QStringLiteral("Audio chunk exceeded cloud max size."));
    EXPECT_FALSE(h().fakeRecorder.running);
    ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
    EXPECT_EQ(sentAudio(), QByteArray(6400, 'l'));
}

TEST_F(CoordinatorStreamE2ETest, AnEmptyDictationSaysWhatReachedTheService)
{
    const QList<std::pair<int, QString>> rows = {
        { 0, QStringLiteral("No microphone audio reached Tessvale.") },
        { 8000, QStringLiteral("That dictation ended before enough audio reached Tessvale.") },
        { 20000, QStringLiteral("Tessvale received very quiet audio.") },
    };
    for (const auto& [bytes, expectedStart] : rows) {
        SCOPED_TRACE(bytes);
        openHandsFree();
        stream().setAutoRespond(false);
        capture(
            bytes > 0 ? QList<QByteArray> { QByteArray(bytes, 's') } : QList<QByteArray> {}, { 0.01f, 0.01f, 0.01f });
        ASSERT_TRUE(waitUntil([&] { return sentAudio().size() == bytes; }));
        spinEventLoop(50ms);
        stream().sendMessage(QStringLiteral("SessionStateChanged"),
            { state(sessionID(), QStringLiteral("CompletedEmpty"), QStringLiteral("nothing heard")) });
        ASSERT_TRUE(waitUntil([&] { return !c().lastError().isEmpty(); }));
        EXPECT_TRUE(c().lastError().startsWith(expectedStart)) << c().lastError().toStdString();
        EXPECT_EQ(c().phase(), DictationPhase::ready);
        stream().sendMessage(QStringLiteral("SessionCompleted"), { sessionID() });
        ASSERT_TRUE(waitUntil([&] { return stream().connection().closed; }));
        EXPECT_FALSE(h().fakeRecorder.running);
        stream().setAutoRespond(true);
    }
}

TEST_F(CoordinatorStreamE2ETest, EveryStartFailureEndsAsItsRowSays)
{
    using Arrange = std::function<void(CoordinatorHarness&, FakeCloudServer&)>;
    struct Row
    {
        const char* name;
        Arrange arrange;
        // Shown in error; empty: signed out with the expired-session text.
        QString shown;
        bool reported;
        bool reachesTheService;
    };
    const QList<Row> rows = {
        { "microphone denied", [](auto& h, auto&) { h.microphoneStatus = MicrophoneAuthorizationStatus::denied; },
            AudioCaptureError::inputUnavailable().localizedDescription(), false, false },
        { "microphone refused",
            [](auto& h, auto&) {
                h.microphoneStatus = MicrophoneAuthorizationStatus::notDetermined;
                h.microphoneRequestGrants = false;
            },
            AudioCaptureError::inputUnavailable().localizedDescription(), false, false },
        { "accessibility", [](auto& h, auto&) { h.accessibilityTrusted = false; },
            TextInsertionError(TextInsertionError::missingAccessibilityPermission).localizedDescription(), false,
            false },
        { "no stored key", [](auto& h, auto&) { h.storeAPIKey(QString()); },
            CloudClientError::missingAPIKey().localizedDescription(), false, false },
        { "key rejected", [](auto& h, auto&) { h.storeAPIKey(QStringLiteral("tv_test_revokedkey")); }, QString(), false,
            true },
        { "account fails",
            [](auto&, auto& s) {
                s.setResponse(
                    "GET", QStringLiteral("/client/v1/me"), FakeHttpResponse::json(503, R"({"error":"Maintenance"})"));
            },
            QStringLiteral("*"), true, true },
        { "recorder fails",
            [](auto& h, auto&) {
                h.fakeRecorder.startError = std::make_exception_ptr(AudioCaptureError::converterUnavailable());
            },
            AudioCaptureError::converterUnavailable().localizedDescription(), true, true },
        { "stream refused", [](auto&, auto& s) { s.stream().setRejectUpgrades(true); }, QStringLiteral("*"), true,
            true },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server().clearResponses();
        server().clearRequests();
        stream().setRejectUpgrades(false);
        m_h = makeHarness();
        row.arrange(h(), server());
        c().startPushToTalk();
        ASSERT_TRUE(waitUntil([&] {
            return !c().lastError().isEmpty()
                && (c().phase() == DictationPhase::error || c().phase() == DictationPhase::signedOut);
        }));
        spinEventLoop(100ms);
        h().settle();
        if (row.shown.isEmpty()) {
            EXPECT_EQ(c().phase(), DictationPhase::signedOut);
            EXPECT_EQ(c().lastError(), QStringLiteral("Saved session expired before dictation could start"));
            EXPECT_FALSE(h().storedAPIKey());
        } else {
            EXPECT_EQ(c().phase(), DictationPhase::error);
            if (row.shown != QStringLiteral("*")) {
                EXPECT_EQ(c().lastError(), row.shown);
            }
            EXPECT_TRUE(h().logged(QStringLiteral("Failed to start recording: ") + c().lastError()));
        }
        EXPECT_EQ(h().reports.size(), row.reported ? 1 : 0) << h().reportContexts().join(',').toStdString();
        EXPECT_EQ(!server().requests().isEmpty(), row.reachesTheService);
        EXPECT_FALSE(c().triggerMode());
        EXPECT_FALSE(DictationCoordinatorTestAccess::sessionID(c()));
        EXPECT_FALSE(h().fakeRecorder.running);
        EXPECT_EQ(stream().openConnectionCount(), 0);
    }
}

} // namespace
} // namespace tessvale
