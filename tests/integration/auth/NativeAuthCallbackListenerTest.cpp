#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTest>

#include "support/async/EventLoopWaits.h"
#include <QUrlQuery>

#include <qcoro/qcorotask.h>

#include "auth/NativeAuthCallbackListener.h"
#include "support/async/TaskRunner.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

const QString kCallbackPath = QStringLiteral("/native-auth/callback");
const QByteArray kPage = "<html><body><h1>Tessvale</h1><p>You can return to the app now.</p></body></html>";

// One HTTP client connection driven from the test's event loop (the listener runs on it too).
class Client
{
public:
    explicit Client(quint16 port, const QHostAddress& address = QHostAddress(QHostAddress::LocalHost))
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
        QObject::connect(&m_socket, &QTcpSocket::disconnected, [this] { m_closed = true; });
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError error) {
            m_received += m_socket.readAll();
            if (error == QAbstractSocket::ConnectionRefusedError)
                m_refused = true;
            else
                m_closed = true;
        });
        m_socket.connectToHost(address, port);
    }

    bool connected()
    {
        (void)QTest::qWaitFor(
            [this] { return m_socket.state() == QAbstractSocket::ConnectedState || m_refused || m_closed; }, 60000);
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    bool refused()
    {
        (void)QTest::qWaitFor(
            [this] { return m_refused || m_socket.state() == QAbstractSocket::ConnectedState; }, 60000);
        return m_refused;
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    void close() { m_socket.close(); }
    bool closedByServer(int timeoutMs = 60000)
    {
        return QTest::qWaitFor([this] { return m_closed; }, timeoutMs);
    }
    bool isClosed() const { return m_closed; }
    const QByteArray& received() const { return m_received; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_closed = false;
    bool m_refused = false;
};

QByteArray getRequest(const QByteArray& target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: tests\r\nAccept: text/html\r\n\r\n";
}

QByteArray statusLine(const QByteArray& response)
{
    return response.left(response.indexOf("\r\n"));
}

// The whole exchange of one request: the server's answer once it has closed the connection.
QByteArray roundTrip(quint16 port, const QByteArray& request)
{
    Client client(port);
    EXPECT_TRUE(client.connected());
    client.send(request);
    EXPECT_TRUE(client.closedByServer());
    return client.received();
}

class CallbackListener : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_listener.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    void start(NativeAuthCallbackListenerOptions options = {})
    {
        m_listener = runTask(NativeAuthCallbackListener::start(
            kCallbackPath, [this](const QUrl& url) { m_delivered.push_back(url); }, std::move(options)));
        ASSERT_TRUE(m_listener);
        m_port = quint16(m_listener->redirectURL().port());
    }

    // Lets queued deliveries run.
    void settle() { spinEventLoop(50ms); }

    // Waits until the listener has taken count connections in (it adopts each one it accepts).
    bool accepted(qsizetype count)
    {
        return QTest::qWaitFor(
            [&] {
                return m_listener->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly).size() >= count;
            },
            60000);
    }

    std::shared_ptr<NativeAuthCallbackListener> m_listener;
    std::vector<QUrl> m_delivered;
    quint16 m_port = 0;
};

} // namespace

TEST_F(CallbackListener, RedirectUrlIsTheIpv4LoopbackWithTheChosenPortAndPath)
{
    start();
    EXPECT_GT(m_port, 0);
    EXPECT_EQ(
        m_listener->redirectURL().toString(), QStringLiteral("http://127.0.0.1:%1/native-auth/callback").arg(m_port));
}

TEST_F(CallbackListener, IsNotReachableOnAnyOtherAddressOfThisMachine)
{
    start();
    int tried = 0;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address == QHostAddress(QHostAddress::LocalHost) || !address.scopeId().isEmpty())
            continue;
        ++tried;
        Client client(m_port, address);
        EXPECT_FALSE(client.connected()) << address.toString().toStdString();
    }
    if (tried == 0)
        GTEST_SKIP() << "this machine has no address besides 127.0.0.1";
}

TEST_F(CallbackListener, DeliversTheCallbackWithItsQueryAndAnswersWithThePage)
{
    start();
    const QByteArray response = roundTrip(m_port, getRequest("/native-auth/callback?code=a%2Bb&state=s-1"));
    EXPECT_EQ(response,
        "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
            + QByteArray::number(kPage.size()) + "\r\nConnection: close\r\n\r\n" + kPage);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_delivered.empty(); }, 60000));
    const QUrl url = m_delivered.front();
    EXPECT_EQ(url.toString(QUrl::FullyEncoded),
        QStringLiteral("http://127.0.0.1:%1/native-auth/callback?code=a%2Bb&state=s-1").arg(m_port));
    EXPECT_EQ(QUrlQuery(url).queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded), QStringLiteral("a+b"));
}

TEST_F(CallbackListener, DeliversEveryCallbackRequestSoAStrayOneCannotSpendTheRealOne)
{
    start();
    for (const QByteArray& target : { QByteArray("/native-auth/callback"), QByteArray("/native-auth/callback?code=1"),
             QByteArray("/native-auth/callback?code=2&state=s") })
        EXPECT_EQ(statusLine(roundTrip(m_port, getRequest(target))), "HTTP/1.1 200 OK") << target.constData();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 3; }, 60000));
    EXPECT_FALSE(m_delivered[0].hasQuery());
    EXPECT_EQ(QUrlQuery(m_delivered[1]).queryItemValue(QStringLiteral("code")), QStringLiteral("1"));
    EXPECT_EQ(QUrlQuery(m_delivered[2]).queryItemValue(QStringLiteral("code")), QStringLiteral("2"));
}

TEST_F(CallbackListener, AnswersOtherPathsWith404WithoutCallingTheHandler)
{
    start();
    for (const QByteArray& target : { QByteArray("/favicon.ico"), QByteArray("/"), QByteArray("/native-auth"),
             QByteArray("/native-auth/callbackx?code=1&state=s"), QByteArray("/native-auth/callback/extra?code=1"),
             QByteArray("//native-auth/callback") }) {
        EXPECT_EQ(statusLine(roundTrip(m_port, getRequest(target))), "HTTP/1.1 404 Not Found") << target.constData();
    }
    settle();
    EXPECT_TRUE(m_delivered.empty());
    roundTrip(m_port, getRequest("/native-auth/callback?code=1&state=s"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
}

TEST_F(CallbackListener, RefusesMethodsOtherThanGetAndMalformedRequests)
{
    start();
    EXPECT_EQ(statusLine(
                  roundTrip(m_port, "POST /native-auth/callback?code=1&state=s HTTP/1.1\r\nContent-Length: 0\r\n\r\n")),
        "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(statusLine(roundTrip(m_port, "GARBAGE\r\n\r\n")), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(statusLine(roundTrip(m_port, "GET http://evil.example/native-auth/callback?code=1 HTTP/1.1\r\n\r\n")),
        "HTTP/1.1 400 Bad Request");
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, AssemblesARequestSplitAcrossSegments)
{
    start();
    Client client(m_port);
    ASSERT_TRUE(client.connected());
    for (const QByteArray& segment : { QByteArray("GET /native-"), QByteArray("auth/callback?code=a"),
             QByteArray("b&state=s HTTP/1.1\r\nHost: 127.0.0.1\r"), QByteArray("\n\r") }) {
        client.send(segment);
        spinEventLoop(30ms);
        EXPECT_TRUE(client.received().isEmpty());
        EXPECT_TRUE(m_delivered.empty());
    }
    client.send("\n");
    ASSERT_TRUE(client.closedByServer());
    EXPECT_EQ(statusLine(client.received()), "HTTP/1.1 200 OK");
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
    EXPECT_EQ(QUrlQuery(m_delivered.front()).queryItemValue(QStringLiteral("code")), QStringLiteral("ab"));
}

TEST_F(CallbackListener, ClosesAnIdleConnectionAfterTheRequestTimeout)
{
    NativeAuthCallbackListenerOptions options;
    options.requestTimeout = 200ms;
    start(options);
    Client client(m_port);
    ASSERT_TRUE(client.connected());
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(client.closedByServer());
    EXPECT_GE(elapsed.elapsed(), 150);
    EXPECT_TRUE(client.received().isEmpty());
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, ClosesAConnectionThatNeverFinishesItsRequest)
{
    NativeAuthCallbackListenerOptions options;
    options.requestTimeout = 200ms;
    start(options);
    Client client(m_port);
    ASSERT_TRUE(client.connected());
    client.send("GET /native-auth/callback?code=1&state=s HTTP/1.1\r\n");
    spinEventLoop(100ms);
    client.send("Host: 127.0.0.1\r\n");
    ASSERT_TRUE(client.closedByServer());
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, DefaultRequestTimeoutIsTenSeconds)
{
    EXPECT_EQ(NativeAuthCallbackListenerOptions().requestTimeout, 10s);
    EXPECT_EQ(NativeAuthCallbackListenerOptions().maxRequestBytes, 16 * 1024);
}

TEST_F(CallbackListener, ConnectionThatSendsNothingAndClosesReachesNoHandler)
{
    start();
    {
        Client client(m_port);
        ASSERT_TRUE(client.connected());
        client.close();
    }
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, RefusesAnOversizedRequest)
{
    start();
    Client client(m_port);
    ASSERT_TRUE(client.connected());
    client.send("GET /native-auth/callback?code=1&state=s HTTP/1.1\r\nX-Padding: " + QByteArray(20 * 1024, 'a'));
    ASSERT_TRUE(client.closedByServer());
    // The answer may be cut off by the reset of the unread remainder; if it arrived, it refuses.
    if (!client.received().isEmpty()) {
        EXPECT_EQ(statusLine(client.received()), "HTTP/1.1 431 Request Header Fields Too Large");
    }
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, AcceptsARequestJustUnderTheSizeLimit)
{
    start();
    QByteArray request = "GET /native-auth/callback?code=1&state=s HTTP/1.1\r\nX-Padding: ";
    request += QByteArray(16 * 1024 - request.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(request.size(), 16 * 1024);
    EXPECT_EQ(statusLine(roundTrip(m_port, request)), "HTTP/1.1 200 OK");
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
}

TEST_F(CallbackListener, WrongStateIsRefusedAndLeavesTheDeliveryForTheRightOne)
{
    NativeAuthCallbackListenerOptions options;
    options.expectedState = QStringLiteral("state-1");
    start(options);
    EXPECT_EQ(statusLine(roundTrip(m_port, getRequest("/native-auth/callback?code=x&state=STATE-1"))),
        "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(statusLine(roundTrip(m_port, getRequest("/native-auth/callback?code=x&state=state-"))),
        "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(statusLine(roundTrip(m_port, getRequest("/native-auth/callback?code=x"))), "HTTP/1.1 400 Bad Request");
    settle();
    EXPECT_TRUE(m_delivered.empty());
    EXPECT_EQ(
        statusLine(roundTrip(m_port, getRequest("/native-auth/callback?code=y&state=state-1"))), "HTTP/1.1 200 OK");
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
    EXPECT_EQ(QUrlQuery(m_delivered.front()).queryItemValue(QStringLiteral("code")), QStringLiteral("y"));
}

TEST_F(CallbackListener, AfterStopNothingIsAcceptedOrDelivered)
{
    start();
    Client early(m_port);
    ASSERT_TRUE(early.connected());
    ASSERT_TRUE(accepted(1));
    m_listener->stop();
    EXPECT_FALSE(m_listener->isListening());
    early.send(getRequest("/native-auth/callback?code=1&state=s"));
    early.closedByServer();
    Client late(m_port);
    EXPECT_TRUE(late.refused());
    settle();
    EXPECT_TRUE(m_delivered.empty());
}

TEST_F(CallbackListener, HandlerMayReleaseTheListener)
{
    std::shared_ptr<NativeAuthCallbackListener> listener
        = runTask(NativeAuthCallbackListener::start(kCallbackPath, [&listener, this](const QUrl& url) {
              m_delivered.push_back(url);
              listener.reset();
          }));
    const quint16 port = quint16(listener->redirectURL().port());
    roundTrip(port, getRequest("/native-auth/callback?code=1&state=s"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
    EXPECT_EQ(listener, nullptr);
    Client late(port);
    EXPECT_TRUE(late.refused());
}

TEST_F(CallbackListener, ReleasingTheListenerClosesItsConnections)
{
    start();
    Client client(m_port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(accepted(1));
    m_listener.reset();
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(CallbackListener, ClosesConnectionsBeyondTheCap)
{
    NativeAuthCallbackListenerOptions options;
    options.maxConnections = 2;
    start(options);
    Client first(m_port);
    Client second(m_port);
    ASSERT_TRUE(first.connected());
    ASSERT_TRUE(second.connected());
    ASSERT_TRUE(accepted(2));
    Client third(m_port);
    third.connected();
    EXPECT_TRUE(third.closedByServer());
    EXPECT_FALSE(first.isClosed());
    first.send(getRequest("/native-auth/callback?code=1&state=s"));
    EXPECT_TRUE(first.closedByServer());
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_delivered.size() == 1; }, 60000));
}

TEST(CallbackListenerStart, RefusesACallbackPathThatIsNotAUrlPath)
{
    for (const QString& path : { QStringLiteral("native-auth/callback"), QStringLiteral("/cb?x=1"),
             QStringLiteral("/cb#top"), QStringLiteral("/a b") }) {
        try {
            runTask(NativeAuthCallbackListener::start(path, [](const QUrl&) {}));
            ADD_FAILURE() << "started on " << path.toStdString();
        } catch (const NativeAuthListenerError& error) {
            EXPECT_TRUE(error.localizedDescription().contains(path)) << error.localizedDescription().toStdString();
        }
    }
    EXPECT_NE(runTask(NativeAuthCallbackListener::start(kCallbackPath, [](const QUrl&) {})), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
