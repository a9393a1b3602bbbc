#include <exception>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include "coordinator/CoordinatorSeams.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"

namespace tessvale {
namespace {

struct TransportLog
{
    std::vector<ServerStreamMessage> messages;
    std::vector<std::exception_ptr> terminations;
};

class CloudWebSocketTransportTest : public FakeCloudFixture
{
protected:
    void connect(const WebSocketTransport& transport, TransportLog& log)
    {
        runTask(transport.connect([&log](const ServerStreamMessage& message) { log.messages.push_back(message); },
            [&log](std::exception_ptr error) { log.terminations.push_back(error); }));
    }
};

TEST_F(CloudWebSocketTransportTest, EachTransportOfTheFactoryHasAConnectionOfItsOwn)
{
    CloudWebSocketSession::Options options;
    options.sslConfiguration = clientSsl();
    const WebSocketTransportFactory factory = cloudWebSocketTransportFactory(options);
    const QUrl url = server().stream().url();
    TransportLog firstLog;
    TransportLog secondLog;
    {
        const WebSocketTransport first = factory(url, QStringLiteral("tv_test_first"));
        const WebSocketTransport second = factory(url, QStringLiteral("tv_test_second"));
        connect(first, firstLog);
        connect(second, secondLog);
        ASSERT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 2; }));

        const QUuid sessionID = QUuid::createUuid();
        runTask(first.send(ClientStreamMessage::startSession(StartSessionPayload {
            sessionID, QUuid::createUuid(), QStringLiteral("1.0.0"), QStringLiteral("Editor") })));
        ASSERT_TRUE(waitUntil([&] { return !firstLog.messages.empty(); }));
        EXPECT_EQ(firstLog.messages.front().sessionID(), sessionID);
        EXPECT_TRUE(secondLog.messages.empty());

        runTask(first.disconnect());
        EXPECT_TRUE(waitUntil([&] { return firstLog.terminations.size() == 1; }));
        EXPECT_EQ(firstLog.terminations.front(), nullptr);
        // The other session's connection is still open.
        EXPECT_EQ(server().stream().openConnectionCount(), 1);
        EXPECT_TRUE(secondLog.terminations.empty());
        runTask(second.disconnect());
        EXPECT_TRUE(waitUntil([&] { return secondLog.terminations.size() == 1; }));
    }
    EXPECT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 0; }));
}

} // namespace
} // namespace tessvale
