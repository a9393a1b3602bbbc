#include "cloud/CloudWebSocketSession.h"

#include <deque>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QWebSocket>

#include "async/CancelToken.h"
#include "async/OneShot.h"
#include "async/Spawn.h"
#include "base/Logging.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/HandshakeStatus.h"
#include "cloud/LoopbackTrust.h"

namespace tessvale {

namespace {

const QString kNotConnected = QStringLiteral("WebSocket session is not connected.");
const QString kUnencodable = QStringLiteral("Unable to encode websocket message.");

const QString kQtHandshakeTextPrefix = QStringLiteral("QWebSocketPrivate::");

std::exception_ptr notConnectedError()
{
    return std::make_exception_ptr(CloudClientError::invalidResponse(kNotConnected));
}

} // namespace

// The state of one socket and its receive side. Signal handlers and the opening watchdog hold it
// weakly or through the socket, so a retired connection can never reach the session again; only
// its own queue of calls holds it, until that has run.
struct CloudWebSocketSession::Connection : std::enable_shared_from_this<Connection>
{
    QPointer<QWebSocket> socket;
    MessageHandler handler;
    TerminationHandler terminationHandler;
    bool opened = false;
    // Sends no longer wait for the opening; set in turn, after the senders that waited have resumed.
    bool sendsAdmitted = false;
    // The end is decided and its report queued; no later frame is queued.
    bool ended = false;
    bool closingLocally = false;
    // Qt reports close code 1000 for a connection that simply vanished, so whether a close frame
    // actually arrived is tracked separately.
    bool closeFrameReceived = false;
    bool socketFailed = false;
    QString socketErrorText;
    CancelSource openingWatch;
    std::vector<OneShot<>> openWaiters;
    // Every call out of the connection (both handlers, resumed senders), in order. They run from the
    // event loop, never inside a socket signal or a call into the session, so any of them may drop
    // the session, and with it the socket.
    std::deque<std::function<void()>> calls;
    bool draining = false;

    void post(std::function<void()> call)
    {
        calls.push_back(std::move(call));
        if (std::exchange(draining, true))
            return;
        // The queue keeps the connection alive until it has run.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [self = shared_from_this()] { self->drain(); }, Qt::QueuedConnection);
    }

    void drain()
    {
        while (!calls.empty()) {
            const std::function<void()> call = std::move(calls.front());
            calls.pop_front();
            try {
                call();
            } catch (const std::exception& error) {
                qCWarning(lcWebSocket).noquote() << "Streaming connection callback failed:" << error.what();
            } catch (...) {
                qCWarning(lcWebSocket) << "Streaming connection callback failed";
            }
        }
        draining = false;
    }

    // Senders that begin waiting before this call runs are woken by it too, in their order.
    void wakeWaiters(std::exception_ptr error)
    {
        post([this, error] {
            if (!error)
                sendsAdmitted = true;
            auto waiters = std::exchange(openWaiters, {});
            for (auto& waiter : waiters) {
                if (error)
                    waiter.fail(error);
                else
                    waiter.resolve();
            }
        });
    }

    // Queues the end's report after the last queued message. Several of the socket's signals may end
    // the stream; the first end's report is the one delivered, because the report takes the handler.
    void finish(std::exception_ptr error)
    {
        ended = true;
        openingWatch.cancel();
        wakeWaiters(error ? error
                          : std::make_exception_ptr(CloudTransportError(CloudTransportError::Code::connectionLost,
                              QStringLiteral("The streaming connection is closed."))));
        post([this, error] {
            handler = nullptr;
            if (auto report = std::exchange(terminationHandler, nullptr))
                report(error);
        });
    }

    void deliver(const QByteArray& bytes)
    {
        if (ended)
            return;
        std::optional<ServerStreamMessage> message;
        try {
            message.emplace(ServerStreamMessage::decode(bytes));
        } catch (...) {
            // A frame that does not decode ends the stream; later frames are not read.
            finish(std::current_exception());
            return;
        }
        post([this, message = std::move(*message)] {
            // Gone once the session let go of the connection or the end was reported.
            if (!handler)
                return;
            // Keep the handler alive even if it drops the session while it runs.
            const MessageHandler current = handler;
            current(message);
        });
    }

    std::exception_ptr endError(QWebSocket* webSocket) const
    {
        using Code = CloudTransportError::Code;
        if (!opened) {
            if (const std::optional<int> status = refusedOpeningStatus(socketErrorText))
                return std::make_exception_ptr(CloudTransportError::refusedOpening(*status));
            // Qt's own handshake texts name its internals; socket and TLS texts are fit to show.
            const QString reason = socketErrorText.isEmpty() || socketErrorText.startsWith(kQtHandshakeTextPrefix)
                ? QStringLiteral("the handshake failed")
                : socketErrorText;
            return std::make_exception_ptr(CloudTransportError(
                Code::cannotConnect, QStringLiteral("The streaming connection could not be opened: ") + reason));
        }
        if (!closeFrameReceived) {
            return std::make_exception_ptr(
                CloudTransportError(Code::connectionLost, QStringLiteral("The streaming connection was lost.")));
        }
        const auto code = webSocket ? webSocket->closeCode() : QWebSocketProtocol::CloseCodeAbnormalDisconnection;
        if (code == QWebSocketProtocol::CloseCodeNormal)
            return nullptr;
        if (code == QWebSocketProtocol::CloseCodeTooMuchData) {
            return std::make_exception_ptr(CloudTransportError(Code::messageTooLarge,
                QStringLiteral("The cloud service sent a message larger than the 1 MiB limit.")));
        }
        return std::make_exception_ptr(CloudTransportError(
            Code::closedAbnormally, QStringLiteral("The streaming connection closed with code %1.").arg(int(code))));
    }
};

CloudWebSocketSession::CloudWebSocketSession(const QUrl& url, const QString& apiKey, QObject* parent)
    : CloudWebSocketSession(url, apiKey, Options {}, parent)
{
}

CloudWebSocketSession::CloudWebSocketSession(const QUrl& url, const QString& apiKey, Options options, QObject* parent)
    : QObject(parent)
    , m_url(url)
    , m_apiKey(apiKey)
    , m_options(std::move(options))
{
}

CloudWebSocketSession::~CloudWebSocketSession()
{
    if (auto connection = std::exchange(m_connection, nullptr)) {
        // Whoever destroys the session no longer wants to hear from it.
        connection->terminationHandler = nullptr;
        retire(connection, false);
    }
}

bool CloudWebSocketSession::isOpen() const
{
    return m_connection && m_connection->opened && !m_connection->ended;
}

void CloudWebSocketSession::connect(MessageHandler handler, TerminationHandler terminationHandler)
{
    if (auto previous = std::exchange(m_connection, nullptr)) {
        qCWarning(lcWebSocket) << "Connecting again; the earlier streaming connection is closed first";
        retire(previous, true);
    }

    auto connection = std::make_shared<Connection>();
    connection->handler = std::move(handler);
    connection->terminationHandler = std::move(terminationHandler);
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connection->socket = socket;
    socket->setMaxAllowedIncomingFrameSize(maxIncomingMessageBytes);
    socket->setMaxAllowedIncomingMessageSize(maxIncomingMessageBytes);
    if (const auto ssl = sslConfigurationFor(m_url, m_options.sslConfiguration))
        socket->setSslConfiguration(*ssl);

    // Handlers hold the connection weakly: a retired connection's late signals find it gone.
    std::weak_ptr<Connection> weak = connection;
    QObject::connect(socket, &QWebSocket::connected, socket, [weak] {
        auto state = weak.lock();
        if (!state || state->ended)
            return;
        state->opened = true;
        state->openingWatch.cancel();
        state->wakeWaiters(nullptr);
    });
    QObject::connect(socket, &QWebSocket::aboutToClose, socket, [weak] {
        auto state = weak.lock();
        if (state && !state->closingLocally && !state->socketFailed && state->opened)
            state->closeFrameReceived = true;
    });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
        [weak, socket](QAbstractSocket::SocketError) {
            auto state = weak.lock();
            if (!state)
                return;
            if (!state->socketFailed) {
                state->socketFailed = true;
                state->socketErrorText = socket->errorString();
            }
            // Before the handshake completes no disconnected signal is guaranteed.
            if (!state->opened) {
                state->finish(state->endError(socket));
                socket->abort();
            }
        });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [weak, socket] {
        // finish() reports the end once, whichever of the socket's signals comes first.
        if (auto state = weak.lock())
            state->finish(state->endError(socket));
    });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [weak](const QString& text) {
        if (auto state = weak.lock())
            state->deliver(text.toUtf8());
    });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket, [weak](const QByteArray& bytes) {
        if (auto state = weak.lock())
            state->deliver(bytes);
    });

    m_connection = connection;
    QNetworkRequest request(m_url);
    request.setRawHeader(apiKeyHeader, m_apiKey.toUtf8());
    socket->open(request);

    Sleeper* sleeper = m_options.sleeper ? m_options.sleeper : &Sleeper::system();
    const Duration timeout = m_options.openingTimeout;
    runDetached([weak, sleeper, timeout](CancelToken token) { return watchOpening(weak, sleeper, timeout, token); },
        connection->openingWatch.token(), QStringLiteral("websocket opening watch"));
}

QCoro::Task<> CloudWebSocketSession::watchOpening(
    std::weak_ptr<Connection> connection, Sleeper* sleeper, Duration timeout, CancelToken token)
{
    QCoro::Task<> waiting = sleeper->sleep(timeout, token);
    co_await std::move(waiting);
    auto state = connection.lock();
    if (!state || state->ended || state->opened)
        co_return;
    const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count() / 1000.0;
    state->finish(std::make_exception_ptr(CloudTransportError(CloudTransportError::Code::timedOut,
        QStringLiteral("The streaming connection did not open within %1 seconds.").arg(seconds))));
    if (state->socket)
        state->socket->abort();
}

QCoro::Task<> CloudWebSocketSession::send(ClientStreamMessage message)
{
    // Only the connection is used after the wait below: the session may be gone by then.
    std::shared_ptr<Connection> connection = m_connection;
    if (!connection)
        throw CloudClientError::invalidResponse(kNotConnected);

    const QByteArray bytes = message.encoded();
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw CloudClientError::invalidResponse(kUnencodable);

    if (!connection->sendsAdmitted && !connection->ended) {
        OneShot<> opened;
        connection->openWaiters.push_back(opened);
        co_await opened;
    }
    if (connection->ended || !connection->socket) {
        throw CloudTransportError(
            CloudTransportError::Code::connectionLost, QStringLiteral("The streaming connection is closed."));
    }
    const qint64 written = connection->socket->sendTextMessage(text);
    if (written != bytes.size()) {
        throw CloudTransportError(CloudTransportError::Code::connectionLost,
            QStringLiteral("The frame could not be handed to the streaming connection."));
    }
}

QCoro::Task<> CloudWebSocketSession::disconnect()
{
    if (auto connection = std::exchange(m_connection, nullptr))
        retire(connection, true);
    co_return;
}

void CloudWebSocketSession::retire(const std::shared_ptr<Connection>& connection, bool graceful)
{
    connection->openingWatch.cancel();
    connection->wakeWaiters(notConnectedError());
    // Frames still queued are not delivered; an end already queued is still reported.
    connection->handler = nullptr;
    if (!connection->ended) {
        connection->ended = true;
        // Queued like every other call, so it comes after the caller has moved on.
        connection->post([raw = connection.get()] {
            if (auto report = std::exchange(raw->terminationHandler, nullptr))
                report(nullptr);
        });
    }
    QWebSocket* socket = connection->socket;
    if (!socket)
        return;
    connection->closingLocally = true;
    if (!graceful || socket->state() == QAbstractSocket::UnconnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(closeHandshakeGrace, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close(QWebSocketProtocol::CloseCodeNormal);
    else
        socket->abort();
}

} // namespace tessvale
