#include "auth/NativeAuthCallbackListener.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "auth/CallbackRequest.h"
#include "base/Logging.h"

namespace tessvale {

namespace {

const QByteArray kHeadTerminator = QByteArrayLiteral("\r\n\r\n");
const QByteArray kLineTerminator = QByteArrayLiteral("\r\n");

const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");
const QByteArray kText = QByteArrayLiteral("text/plain; charset=utf-8");

} // namespace

NativeAuthListenerError::NativeAuthListenerError(const QString& description)
    : TessvaleError(description)
{
}

struct NativeAuthCallbackListener::Connection
{
    QByteArray buffer;
    QTimer* deadline = nullptr;
    bool answered = false;
};

QCoro::Task<std::shared_ptr<NativeAuthCallbackListener>> NativeAuthCallbackListener::start(
    QString callbackPath, CallbackHandler callbackHandler, NativeAuthCallbackListenerOptions options)
{
    // The last owner may let go from inside the handler or from another thread: then the listener
    // stops at once and is deleted later by its own event loop.
    std::shared_ptr<NativeAuthCallbackListener> listener(
        new NativeAuthCallbackListener(std::move(callbackPath), std::move(callbackHandler), std::move(options)),
        [](NativeAuthCallbackListener* object) {
            if (QThread::currentThread() != object->thread()) {
                object->stop();
                object->deleteLater();
            } else if (object->m_delivering > 0) {
                object->shutdown();
                object->deleteLater();
            } else {
                delete object;
            }
        });
    listener->listen();
    co_return listener;
}

NativeAuthCallbackListener::NativeAuthCallbackListener(
    QString callbackPath, CallbackHandler callbackHandler, NativeAuthCallbackListenerOptions options)
    : m_server(new QTcpServer(this))
    , m_callbackPath(std::move(callbackPath))
    , m_options(std::move(options))
    , m_callbackHandler(std::move(callbackHandler))
{
}

NativeAuthCallbackListener::~NativeAuthCallbackListener()
{
    shutdown();
}

void NativeAuthCallbackListener::listen()
{
    // The path must stay a path: a "?" or "#" would turn part of it into a query or fragment.
    if (!m_callbackPath.startsWith(QLatin1Char('/')) || m_callbackPath.contains(QLatin1Char('?'))
        || m_callbackPath.contains(QLatin1Char('#')))
        throw NativeAuthListenerError(
            QStringLiteral("The sign-in callback path \"%1\" is not a URL path.").arg(m_callbackPath));

    // Loopback only: the listener must never be reachable from another machine.
    if (!m_server->listen(QHostAddress(QHostAddress::LocalHost), 0))
        throw NativeAuthListenerError(
            QStringLiteral("Could not listen for the sign-in callback: %1").arg(m_server->errorString()));

    const QUrl redirect(QStringLiteral("http://127.0.0.1:") + QString::number(m_server->serverPort()) + m_callbackPath,
        QUrl::StrictMode);
    if (!redirect.isValid() || redirect.hasQuery() || redirect.hasFragment()) {
        m_server->close();
        throw NativeAuthListenerError(
            QStringLiteral("The sign-in callback path \"%1\" is not a URL path.").arg(m_callbackPath));
    }
    m_redirectURL = redirect;
    connect(m_server, &QTcpServer::newConnection, this, &NativeAuthCallbackListener::acceptCallbackConnection);
    qCInfo(lcNativeAuth).noquote() << "Listening for the sign-in callback on" << m_redirectURL.toString();
}

bool NativeAuthCallbackListener::isListening() const
{
    return m_server->isListening();
}

void NativeAuthCallbackListener::stop()
{
    {
        std::lock_guard lock(m_handlerMutex);
        m_callbackHandler = nullptr;
    }
    if (QThread::currentThread() == thread())
        m_server->close();
    else
        QMetaObject::invokeMethod(m_server, &QTcpServer::close, Qt::QueuedConnection);
}

void NativeAuthCallbackListener::shutdown()
{
    {
        std::lock_guard lock(m_handlerMutex);
        m_callbackHandler = nullptr;
    }
    m_server->close();
    auto connections = std::move(m_connections);
    m_connections.clear();
    for (auto& [socket, connection] : connections) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void NativeAuthCallbackListener::acceptCallbackConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (int(m_connections.size()) >= m_options.maxConnections) {
            qCWarning(lcNativeAuth) << "Refused a sign-in callback connection: too many open connections.";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->deadline = new QTimer(socket);
        connection->deadline->setSingleShot(true);
        connection->deadline->setInterval(m_options.requestTimeout);
        connect(connection->deadline, &QTimer::timeout, this, [this, socket] {
            qCInfo(lcNativeAuth) << "Closed a sign-in callback connection that sent no complete request in time.";
            closeConnection(socket);
        });
        connection->deadline->start();
        m_connections.emplace(socket, std::move(connection));

        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::readChannelFinished, this, [this, socket] { handleEndOfInput(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { closeConnection(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError)
                closeConnection(socket);
        });
        // Data that arrived with the connection is already waiting.
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void NativeAuthCallbackListener::readRequest(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = *found->second;
    if (connection.answered) {
        socket->readAll();
        return;
    }
    // Never buffer more than one byte past the limit, whatever the peer sends.
    connection.buffer += socket->read(m_options.maxRequestBytes + 1 - connection.buffer.size());
    const qsizetype headEnd = connection.buffer.indexOf(kHeadTerminator);
    if (headEnd >= 0 && headEnd + kHeadTerminator.size() <= m_options.maxRequestBytes) {
        handleCallbackRequest(socket, connection.buffer.left(headEnd + kLineTerminator.size()));
        return;
    }
    if (connection.buffer.size() > m_options.maxRequestBytes) {
        qCWarning(lcNativeAuth) << "Refused a sign-in callback request larger than" << m_options.maxRequestBytes
                                << "bytes.";
        socket->readAll();
        reply(socket, 431, "Request Header Fields Too Large", kText, "Request too large.\n");
    }
}

void NativeAuthCallbackListener::handleEndOfInput(QTcpSocket* socket)
{
    readRequest(socket);
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->second->answered)
        return;
    // The peer stopped sending before the end of a request head: nothing to deliver.
    if (found->second->buffer.isEmpty())
        closeConnection(socket);
    else
        reply(socket, 400, "Bad Request", kText, "Incomplete request.\n");
}

void NativeAuthCallbackListener::handleCallbackRequest(QTcpSocket* socket, const QByteArray& head)
{
    const CallbackRequestAnswer answer = answerCallbackRequest(head, m_redirectURL, m_options.expectedState);
    // Only the path is logged: a query may hold an authorization code.
    if (!answer.unknownPath.isEmpty())
        qCInfo(lcNativeAuth).noquote() << "Answered 404 to a loopback request for" << answer.unknownPath;
    if (answer.stateMismatch)
        qCWarning(lcNativeAuth) << "Refused a sign-in callback whose state does not match the attempt.";
    reply(socket, answer.status, answer.reason, answer.html ? kHtml : kText, answer.body);
    if (!answer.callback)
        return;
    // From the event loop, so the handler may stop or release the listener.
    QMetaObject::invokeMethod(
        this, [this, callback = *answer.callback] { deliver(callback); }, Qt::QueuedConnection);
}

void NativeAuthCallbackListener::deliver(const QUrl& url)
{
    // A copy: the handler stays installed for the next request, and may stop the listener meanwhile.
    CallbackHandler handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_callbackHandler;
    }
    if (!handler)
        return;
    ++m_delivering;
    handler(url);
    --m_delivering;
}

void NativeAuthCallbackListener::reply(
    QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& contentType, const QByteArray& body)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->second->answered)
        return;
    found->second->answered = true;
    found->second->buffer.clear();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    response += "Content-Type: " + contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += body;
    socket->write(response);
    // The deadline keeps running: a peer that does not take the answer is closed all the same.
    socket->disconnectFromHost();
}

void NativeAuthCallbackListener::closeConnection(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    m_connections.erase(found);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace tessvale
