#include <exception>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/Sleeper.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/CloudWebSocketSession.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"

using namespace std::chrono_literals;

namespace tessvale {
namespace {

const QString kApiKey = QStringLiteral("tv_test_streamkey");

// Everything the two handlers of one connection saw.
struct StreamLog
{
    std::vector<ServerStreamMessage> messages;
    std::vector<std::exception_ptr> terminations;
    // Messages delivered after the termination report (must stay 0).
    int lateMessages = 0;

    CloudWebSocketSession::MessageHandler messageHandler()
    {
        return [this](const ServerStreamMessage& message) {
            if (!terminations.empty())
                ++lateMessages;
            messages.push_back(message);
        };
    }
    CloudWebSocketSession::TerminationHandler terminationHandler()
    {
        return [this](std::exception_ptr error) { terminations.push_back(error); };
    }
};

template <typename Error> Error errorOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error& typed) {
        return typed;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected error type: " << other.what();
    }
    throw std::logic_error("no error of the expected type");
}

ClientStreamMessage startMessage(const QUuid& sessionID)
{
    return ClientStreamMessage::startSession(
        StartSessionPayload { sessionID, QUuid::createUuid(), QStringLiteral("1.0.0"), QStringLiteral("Editor") });
}

QString pongFrame(int index)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject { { QStringLiteral("Case"), QStringLiteral("Pong") },
                                               { QStringLiteral("Fields"), QJsonArray { QString::number(index) } } })
                                 .toJson(QJsonDocument::Compact));
}

class CloudWebSocketSessionTest : public FakeCloudFixture
{
protected:
    std::unique_ptr<CloudWebSocketSession> makeSession(CloudWebSocketSession::Options options = {})
    {
        if (!options.sslConfiguration)
            options.sslConfiguration = clientSsl();
        return std::make_unique<CloudWebSocketSession>(server().stream().url(), kApiKey, options);
    }

    // Ends the test's connection and waits for its report, so no handler outlives its log.
    void disconnectAndWait(CloudWebSocketSession& session, StreamLog& log)
    {
        runTask(session.disconnect());
        EXPECT_TRUE(waitUntil([&] { return !log.terminations.empty(); }));
    }

    static void connect(CloudWebSocketSession& session, StreamLog& log)
    {
        session.connect(log.messageHandler(), log.terminationHandler());
    }

    ::testing::AssertionResult connectAndOpen(CloudWebSocketSession& session, StreamLog& log)
    {
        connect(session, log);
        if (waitUntil([&] { return session.isOpen() && server().stream().openConnectionCount() > 0; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the session did not open";
    }

    // Waits for the end report, then a while longer to show that it comes only once.
    static ::testing::AssertionResult endedOnce(const StreamLog& log)
    {
        if (!waitUntil([&] { return !log.terminations.empty(); }))
            return ::testing::AssertionFailure() << "no end was reported";
        spinEventLoop(100ms);
        if (log.terminations.size() != 1)
            return ::testing::AssertionFailure() << log.terminations.size() << " ends were reported";
        return ::testing::AssertionSuccess();
    }
};

TEST_F(CloudWebSocketSessionTest, OpeningRequestCarriesTheApiKeyHeaderOnce)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    const auto& connection = server().stream().connection();
    EXPECT_EQ(connection.headerCount("x-tessvale-api-key"), 1);
    EXPECT_EQ(connection.header("x-tessvale-api-key"), kApiKey.toUtf8());
    EXPECT_EQ(connection.requestURL.path(), FakeCloudStreamService::streamPath);
    EXPECT_FALSE(connection.requestURL.hasQuery());
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, StartMessageSentBeforeTheHandshakeCompletesIsDelivered)
{
    auto session = makeSession();
    StreamLog log;
    const QUuid sessionID = QUuid::createUuid();
    connect(*session, log);
    // Sent at once, while the TLS and WebSocket handshakes are still running.
    auto sending = session->send(startMessage(sessionID));
    runTask(std::move(sending));

    ASSERT_TRUE(waitUntil([&] { return log.messages.size() >= 2; }));
    ASSERT_EQ(server().stream().connection().textFrames.size(), 1);
    const auto start = QJsonDocument::fromJson(server().stream().connection().textFrames.first().toUtf8()).object();
    EXPECT_EQ(start.value(QStringLiteral("Case")).toString(), QStringLiteral("StartSession"));
    EXPECT_EQ(log.messages.at(0).messageCase(), ServerStreamMessage::Case::sessionStarted);
    EXPECT_EQ(log.messages.at(0).sessionID(), sessionID);
    EXPECT_EQ(log.messages.at(1).messageCase(), ServerStreamMessage::Case::sessionStateChanged);
    EXPECT_TRUE(log.terminations.empty());
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, SendsQueuedWhileOpeningKeepTheirOrder)
{
    auto session = makeSession();
    StreamLog log;
    connect(*session, log);
    std::vector<QCoro::Task<>> sends;
    sends.push_back(session->send(startMessage(QUuid::createUuid())));
    for (int sequence = 0; sequence < 5; ++sequence)
        sends.push_back(session->send(ClientStreamMessage::audioChunk(sequence, QStringLiteral("AAAA"))));
    for (auto& send : sends)
        runTask(std::move(send));

    ASSERT_TRUE(waitUntil([&] { return server().stream().connection().textFrames.size() == 6; }));
    const auto frames = server().stream().connection().textFrames;
    EXPECT_TRUE(frames.at(0).contains(QStringLiteral("StartSession")));
    for (int sequence = 0; sequence < 5; ++sequence) {
        const auto chunk = QJsonDocument::fromJson(frames.at(sequence + 1).toUtf8()).object();
        EXPECT_EQ(
            chunk.value(QStringLiteral("Fields")).toArray().at(0).toObject().value(QStringLiteral("Sequence")).toInt(),
            sequence);
    }
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, TextAndBinaryFramesArriveInOrder)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    for (int index = 0; index < 40; ++index) {
        if (index % 2 == 0)
            server().stream().sendText(pongFrame(index));
        else
            server().stream().sendBinary(pongFrame(index).toUtf8());
    }
    ASSERT_TRUE(waitUntil([&] { return log.messages.size() == 40; }));
    for (int index = 0; index < 40; ++index)
        EXPECT_EQ(log.messages.at(index).text(), QString::number(index));
    EXPECT_TRUE(log.terminations.empty());
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, ServerCloseWithNormalCodeIsReportedOnceWithoutError)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    server().stream().sendText(pongFrame(1));
    server().stream().close(QWebSocketProtocol::CloseCodeNormal);
    ASSERT_TRUE(endedOnce(log));
    EXPECT_EQ(log.terminations.front(), nullptr);
    EXPECT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.lateMessages, 0);

    // Disconnecting an ended session reports nothing more.
    runTask(session->disconnect());
    spinEventLoop(50ms);
    EXPECT_EQ(log.terminations.size(), 1u);
}

TEST_F(CloudWebSocketSessionTest, ServerCloseWithAnotherCodeIsReportedAsError)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    server().stream().close(QWebSocketProtocol::CloseCode(1011), QStringLiteral("internal"));
    ASSERT_TRUE(endedOnce(log));
    const auto error = errorOf<CloudTransportError>(log.terminations.front());
    EXPECT_EQ(error.code(), CloudTransportError::Code::closedAbnormally);
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("1011")));
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, DroppedConnectionWithoutCloseFrameIsAnError)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    server().stream().drop();
    ASSERT_TRUE(endedOnce(log));
    ASSERT_NE(log.terminations.front(), nullptr);
    EXPECT_EQ(errorOf<CloudTransportError>(log.terminations.front()).code(), CloudTransportError::Code::connectionLost);
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, OpeningTimeOutIsReportedOnceAndFailsWaitingSends)
{
    ManualSleeper clock;
    CloudWebSocketSession::Options options;
    options.sleeper = &clock;
    auto session = makeSession(options);
    server().stream().setHandshakeHangs(true);
    StreamLog log;
    connect(*session, log);
    auto sending = session->send(startMessage(QUuid::createUuid()));
    spinEventLoop(100ms);
    EXPECT_TRUE(log.terminations.empty());

    clock.advance(59s);
    spinEventLoop(20ms);
    EXPECT_TRUE(log.terminations.empty());
    clock.advance(1s);
    ASSERT_TRUE(waitUntil([&] { return !log.terminations.empty(); }));
    EXPECT_THROW(runTask(std::move(sending)), CloudTransportError);
    spinEventLoop(100ms);
    ASSERT_EQ(log.terminations.size(), 1u);
    EXPECT_EQ(errorOf<CloudTransportError>(log.terminations.front()).code(), CloudTransportError::Code::timedOut);
    server().stream().setHandshakeHangs(false);
    runTask(session->disconnect());
    spinEventLoop(50ms);
    EXPECT_EQ(log.terminations.size(), 1u);
}

TEST_F(CloudWebSocketSessionTest, DisconnectReportsOnceAfterReturningAndClosesWithNormalCode)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    runTask(session->disconnect());
    EXPECT_TRUE(log.terminations.empty()) << "the report comes after disconnect() returns";
    ASSERT_TRUE(waitUntil([&] { return !log.terminations.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 0; }));
    spinEventLoop(50ms);
    ASSERT_EQ(log.terminations.size(), 1u);
    EXPECT_EQ(log.terminations.front(), nullptr);
    EXPECT_EQ(server().stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);

    runTask(session->disconnect());
    spinEventLoop(50ms);
    EXPECT_EQ(log.terminations.size(), 1u);
}

TEST_F(CloudWebSocketSessionTest, DestroyedSessionDropsTheSocketWithoutACloseFrame)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));
    session.reset();
    ASSERT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 0; }));
    EXPECT_FALSE(server().stream().connection().closeCode.has_value());
    spinEventLoop(50ms);
    EXPECT_TRUE(log.terminations.empty());
}

TEST_F(CloudWebSocketSessionTest, SendOutsideAConnectionFailsAsNotConnected)
{
    auto session = makeSession();
    try {
        runTask(session->send(ClientStreamMessage::stopSession()));
        FAIL() << "send before connect succeeded";
    } catch (const CloudClientError& error) {
        EXPECT_EQ(error.localizedDescription(), QStringLiteral("WebSocket session is not connected."));
    }
    StreamLog log;
    runTask(session->disconnect());
    ASSERT_TRUE(connectAndOpen(*session, log));
    disconnectAndWait(*session, log);
    EXPECT_THROW(runTask(session->send(ClientStreamMessage::stopSession())), CloudClientError);
}

TEST_F(CloudWebSocketSessionTest, SecondConnectClosesTheFirstSocket)
{
    auto session = makeSession();
    StreamLog first;
    StreamLog second;
    ASSERT_TRUE(connectAndOpen(*session, first));
    connect(*session, second);
    ASSERT_TRUE(waitUntil([&] { return server().stream().connectionCount() == 2 && session->isOpen(); }));
    ASSERT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 1; }));
    EXPECT_TRUE(server().stream().connection(0).closed);
    ASSERT_EQ(first.terminations.size(), 1u);
    EXPECT_EQ(first.terminations.front(), nullptr);
    EXPECT_TRUE(second.terminations.empty());

    server().stream().sendText(pongFrame(7));
    ASSERT_TRUE(waitUntil([&] { return second.messages.size() == 1; }));
    EXPECT_TRUE(first.messages.empty());
    disconnectAndWait(*session, second);
}

TEST_F(CloudWebSocketSessionTest, OversizedFrameEndsTheStreamWithAnError)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    QString huge = pongFrame(0);
    huge.insert(huge.size() - 2, QString(1024 * 1024, QLatin1Char('x')));
    server().stream().sendText(huge);
    server().stream().sendText(pongFrame(1));
    ASSERT_TRUE(endedOnce(log));
    EXPECT_EQ(
        errorOf<CloudTransportError>(log.terminations.front()).code(), CloudTransportError::Code::messageTooLarge);
    EXPECT_TRUE(log.messages.empty());
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, UndecodableFrameEndsTheStreamAndLaterFramesAreNotDelivered)
{
    auto session = makeSession();
    StreamLog log;
    ASSERT_TRUE(connectAndOpen(*session, log));

    server().stream().sendText(pongFrame(1));
    server().stream().sendText(QStringLiteral("{\"Case\":\"pong\",\"Fields\":[\"x\"]}"));
    server().stream().sendText(pongFrame(2));
    ASSERT_TRUE(endedOnce(log));
    EXPECT_EQ(errorOf<CloudClientError>(log.terminations.front()).localizedDescription(),
        QStringLiteral("Unsupported websocket message: pong"));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.lateMessages, 0);
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, UntrustedCertificateFailsToOpen)
{
    CloudWebSocketSession::Options options;
    options.sslConfiguration = QSslConfiguration::defaultConfiguration();
    auto session = makeSession(options);
    StreamLog log;
    connect(*session, log);
    ASSERT_TRUE(endedOnce(log));
    EXPECT_NE(log.terminations.front(), nullptr);
    EXPECT_EQ(server().stream().connectionCount(), 0);
    disconnectAndWait(*session, log);
}

TEST_F(CloudWebSocketSessionTest, RefusedUpgradeIsReportedAsError)
{
    server().stream().setRejectUpgrades(true);
    auto session = makeSession();
    StreamLog log;
    connect(*session, log);
    ASSERT_TRUE(endedOnce(log));
    ASSERT_NE(log.terminations.front(), nullptr);
    const auto error = errorOf<CloudTransportError>(log.terminations.front());
    EXPECT_EQ(error.code(), CloudTransportError::Code::refused);
    EXPECT_EQ(error.httpStatusCode(), 403);
    disconnectAndWait(*session, log);
}

// The service's gateway answers the opening request itself, as a plain HTTP response. The status
// comes out of the text of the installed Qt WebSockets, so this pins that text too.
TEST_F(CloudWebSocketSessionTest, RefusedOpeningCarriesItsStatusAndAPlainSentence)
{
    QUrl refusing = server().restOrigin();
    refusing.setScheme(QStringLiteral("wss"));
    refusing.setPath(FakeCloudStreamService::streamPath);
    for (const int status : { 401, 426, 503 }) {
        SCOPED_TRACE(status);
        server().setResponse("GET", FakeCloudStreamService::streamPath,
            FakeHttpResponse::json(status, R"({"error":"Invalid API key"})"));
        CloudWebSocketSession::Options options;
        options.sslConfiguration = clientSsl();
        CloudWebSocketSession session(refusing, kApiKey, options);
        StreamLog log;
        connect(session, log);
        ASSERT_TRUE(endedOnce(log));
        const auto error = errorOf<CloudTransportError>(log.terminations.front());
        EXPECT_EQ(error.code(), CloudTransportError::Code::refused);
        EXPECT_EQ(error.httpStatusCode(), status);
        EXPECT_EQ(error.localizedDescription().toStdString(),
            "The cloud service refused the streaming connection (HTTP status " + std::to_string(status) + ").");
        EXPECT_EQ(server().lastRequest().header("x-tessvale-api-key"), kApiKey.toUtf8());
    }
}

// Each handler drops the session that called it; nothing may touch the session or its socket
// afterwards (run under ASan), and nothing more is delivered. An invalid URL fails inside
// connect(), which still returns before the report.
TEST_F(CloudWebSocketSessionTest, HandlersMayDestroyTheSession)
{
    enum class End { messageHandler, refusedOpening, droppedConnection, invalidURL };
    for (const End end : { End::messageHandler, End::refusedOpening, End::droppedConnection, End::invalidURL }) {
        SCOPED_TRACE(int(end));
        server().stream().setRejectUpgrades(end == End::refusedOpening);
        std::unique_ptr<CloudWebSocketSession> session = end == End::invalidURL
            ? std::make_unique<CloudWebSocketSession>(QUrl(QStringLiteral("wss://local host:1/")), kApiKey)
            : makeSession();
        int messages = 0;
        int terminations = 0;
        session->connect(
            [&](const ServerStreamMessage&) {
                ++messages;
                if (end == End::messageHandler)
                    session.reset();
            },
            [&](std::exception_ptr) {
                ++terminations;
                session.reset();
            });
        ASSERT_EQ(terminations, 0) << "reported from inside connect()";
        if (end == End::messageHandler || end == End::droppedConnection) {
            ASSERT_TRUE(waitUntil([&] { return session && session->isOpen(); }));
            ASSERT_TRUE(waitUntil([&] { return server().stream().openConnectionCount() == 1; }));
            for (int index = 0; index < 3; ++index)
                server().stream().sendText(pongFrame(index));
            if (end == End::droppedConnection) {
                ASSERT_TRUE(waitUntil([&] { return messages == 3; }));
                server().stream().drop();
            }
        }
        ASSERT_TRUE(waitUntil([&] { return !session; }));
        spinEventLoop(100ms);
        EXPECT_EQ(messages, end == End::messageHandler ? 1 : end == End::droppedConnection ? 3 : 0);
        EXPECT_EQ(terminations, end == End::messageHandler ? 0 : 1);
        server().stream().drop();
    }
}

} // namespace
} // namespace tessvale
