#include <vector>

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QUuid>

#include "cloud/CloudAPIClient.h"
#include "cloud/CloudTransportError.h"
#include "cloud/CloudWebSocketSession.h"
#include "cloud/LoopbackTrust.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"

namespace tessvale {
namespace {

// The local demo as the application meets it: no TLS configuration of its own, only the CA file.
class DemoServiceTest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        FakeCloudFixture::SetUp();
        server().stream().setDemoTranscripts(true);
        qputenv(loopbackCAFileVariable, authority().caCertificatePath().toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv(loopbackCAFileVariable);
        FakeCloudFixture::TearDown();
    }
};

TEST_F(DemoServiceTest, TheCAFileAloneLetsTheClientsIn)
{
    QNetworkAccessManager network;
    const CloudAPIClient client(&network);
    EXPECT_EQ(runTask(client.fetchHealth(server().restOrigin())), QStringLiteral("ok"));

    // Without it the stand-in's certificate is refused, as any unknown one is (a new manager: no
    // connection kept open from before).
    qunsetenv(loopbackCAFileVariable);
    QNetworkAccessManager fresh;
    EXPECT_THROW(runTask(CloudAPIClient(&fresh).fetchHealth(server().restOrigin())), CloudTransportError);
}

TEST_F(DemoServiceTest, EachDictationIsAnsweredWithTheAudioItReceived)
{
    CloudWebSocketSession session(server().stream().url(), server().acceptedApiKey());
    std::vector<QString> committed;
    bool ended = false;
    session.connect(
        [&](const ServerStreamMessage& message) {
            if (const auto* payload = message.transcriptCommittedPayload())
                committed.push_back(payload->finalText);
        },
        [&](std::exception_ptr) { ended = true; });

    // 1.5 s and then 0.2 s of 16 kHz 16-bit audio, in chunks of up to one second.
    const std::vector<std::vector<int>> dictations = { { 32000, 16000 }, { 6400 } };
    for (const auto& chunks : dictations) {
        runTask(session.send(ClientStreamMessage::startSession(
            StartSessionPayload { QUuid::createUuid(), QUuid::createUuid(), QStringLiteral("1.0.0"), std::nullopt })));
        for (int index = 0; index < int(chunks.size()); ++index)
            runTask(session.send(ClientStreamMessage::audioChunk(
                index, QString::fromLatin1(QByteArray(chunks[index], '\0').toBase64()))));
        runTask(session.send(ClientStreamMessage::stopSession()));
    }
    ASSERT_TRUE(waitUntil([&] { return committed.size() == 2 || ended; }));
    EXPECT_EQ(committed,
        (std::vector<QString> { QStringLiteral("Tessvale demo service: received 1.5 seconds of audio."),
            QStringLiteral("Tessvale demo service: received 0.2 seconds of audio.") }));
    runTask(session.disconnect());
    EXPECT_TRUE(waitUntil([&] { return ended; }));
}

} // namespace
} // namespace tessvale
