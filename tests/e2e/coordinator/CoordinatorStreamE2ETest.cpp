#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "coordinator/CoordinatorSeams.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;

namespace tessvale {
namespace {

struct Frame
{
    QString caseName;
    QJsonValue field;
};

// The real coordinator over the real streaming connection to the fake service over TLS; the
// recorder and the inserter are fakes, the coordinator's timers run on virtual time.
class CoordinatorStreamE2ETest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        FakeCloudFixture::SetUp();
        h.prepareDictation();
        CloudWebSocketSession::Options options;
        options.sslConfiguration = clientSsl();
        options.sleeper = &h.sleeper();
        h.services().webSocketFactory = cloudWebSocketTransportFactory(options);
        h.configAnswer.value->webSocketURL = server().stream().url();
    }

    DictationCoordinator& c() { return h.coordinator(); }

    QList<Frame> frames()
    {
        QList<Frame> result;
        for (const QString& text : server().stream().connection().textFrames) {
            const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
            result.append({ envelope.value(QStringLiteral("Case")).toString(),
                envelope.value(QStringLiteral("Fields")).toArray().at(0) });
        }
        return result;
    }

    // Chunks pushed from a thread of their own, as the capture's worker pushes them.
    void capture(const QList<QByteArray>& chunks)
    {
        std::thread worker([&] {
            for (const QByteArray& chunk : chunks)
                h.fakeRecorder.chunk(chunk);
        });
        worker.join();
    }

    void releaseAfterGrace()
    {
        c().stopPushToTalk();
        h.settle();
        h.advance(175ms);
    }

    CoordinatorHarness h;
};

TEST_F(CoordinatorStreamE2ETest, PushToTalkStreamsInOrderAndInsertsTheCommittedText)
{
    server().stream().setCommittedText(QStringLiteral("Typed by the fake cloud."));
    server().stream().setCloseAfterCompletion(true);
    c().startPushToTalk();
    // Recorded before the service confirmed the session.
    h.settle();
    capture({ QByteArray(3200, 'a') });
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::recording; }));
    QList<QByteArray> later;
    for (char fill = 'b'; fill <= 'k'; ++fill)
        later.append(QByteArray(3200, fill));
    capture(later);
    ASSERT_TRUE(waitUntil([&] { return frames().size() == 12; }));
    h.fakeRecorder.leftover = { QByteArray(1000, 'z') };
    releaseAfterGrace();
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::ready && !h.insertions.isEmpty(); }));
    ASSERT_TRUE(waitUntil([&] { return server().stream().connection().closed; }));

    const QList<Frame> sent = frames();
    ASSERT_EQ(sent.first().caseName, QStringLiteral("StartSession"));
    ASSERT_EQ(sent.last().caseName, QStringLiteral("StopSession"));
    QByteArray audio;
    for (int i = 1; i < sent.size() - 1; ++i) {
        ASSERT_EQ(sent[i].caseName, QStringLiteral("AudioChunk"));
        EXPECT_EQ(sent[i].field[QStringLiteral("Sequence")].toInt(), i - 1);
        audio += QByteArray::fromBase64(sent[i].field[QStringLiteral("DataBase64")].toString().toLatin1());
    }
    QByteArray expected(3200, 'a');
    for (const QByteArray& chunk : later)
        expected += chunk;
    expected += QByteArray(1000, 'z');
    EXPECT_EQ(audio, expected);
    EXPECT_EQ(server().stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);
    ASSERT_EQ(h.insertions.size(), 1);
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Typed by the fake cloud."));
    EXPECT_TRUE(c().lastError().isEmpty());
}

TEST_F(CoordinatorStreamE2ETest, ADroppedConnectionRecoversTheTranscriptForARetry)
{
    DictationSessionRecoveryResponse recovered;
    recovered.hasRecoverableText = true;
    recovered.finalText = QStringLiteral("Saved on the service.");
    h.recoveryAnswer = CloudAnswer<DictationSessionRecoveryResponse> { recovered, {}, {} };
    c().toggleHandsFree();
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::recording; }));
    server().stream().drop();
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::error; }));
    EXPECT_TRUE(
        c().lastError().endsWith(QStringLiteral(" Recovered the latest transcript so you can copy or retry it.")));
    EXPECT_FALSE(h.fakeRecorder.running);

    c().retryFailedInsertion();
    ASSERT_TRUE(waitUntil([&] { return h.insertions.size() == 1; }));
    EXPECT_EQ(h.insertions.first().text, QStringLiteral("Saved on the service."));
}

TEST_F(CoordinatorStreamE2ETest, KeepAliveGoesOutOnTheIntervalAndIsAnswered)
{
    c().toggleHandsFree();
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::recording; }));
    h.advance(15s);
    ASSERT_TRUE(waitUntil([&] { return frames().size() == 2; }));
    EXPECT_EQ(frames().last().caseName, QStringLiteral("Ping"));
    h.advance(15s);
    ASSERT_TRUE(waitUntil([&] { return frames().size() == 3; }));
    EXPECT_EQ(c().phase(), DictationPhase::recording);
}

} // namespace
} // namespace tessvale
