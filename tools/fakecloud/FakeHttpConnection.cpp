#include "FakeHttpConnection.h"

#include <QSslSocket>
#include <QTimer>
#include <QUrl>

namespace tessvale {

FakeHttpConnection::FakeHttpConnection(QTcpSocket* socket, Responder responder, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_responder(std::move(responder))
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &FakeHttpConnection::readAvailable);
    connect(socket, &QTcpSocket::disconnected, this, &FakeHttpConnection::finish);
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &FakeHttpConnection::readAvailable);
}

FakeHttpConnection::~FakeHttpConnection() = default;

void FakeHttpConnection::abort()
{
    if (m_socket)
        m_socket->abort();
    finish();
}

void FakeHttpConnection::answerLate(const FakeHttpResponse& response)
{
    m_answered = false;
    respond(response);
}

void FakeHttpConnection::readAvailable()
{
    if (!m_socket || m_answered)
        return;
    switch (m_reader.feed(m_socket->readAll())) {
    case HttpRequestReader::State::needMore:
        return;
    case HttpRequestReader::State::headTooLarge:
        respond(FakeHttpResponse::text(413, "request head too large"));
        return;
    case HttpRequestReader::State::bodyTooLarge:
        respond(FakeHttpResponse::text(413, "request body too large"));
        return;
    case HttpRequestReader::State::malformed:
        respond(FakeHttpResponse::text(400, "malformed request"));
        return;
    case HttpRequestReader::State::complete:
        break;
    }
    const ReceivedHttpRequest& received = m_reader.request();
    m_request.method = received.method;
    m_request.target = received.target;
    const auto* tls = qobject_cast<QSslSocket*>(m_socket.data());
    m_request.encrypted = tls && tls->isEncrypted();
    const QUrl url = QUrl::fromEncoded("https://fake" + m_request.target);
    m_request.path = url.path();
    m_request.query = QUrlQuery(url);
    m_request.headers = received.headers;
    m_request.body = received.body;

    const FakeHttpResponse response = m_responder ? m_responder(m_request) : FakeHttpResponse::text(404, "");
    switch (response.behaviour) {
    case FakeHttpResponse::Behaviour::hang:
        m_answered = true;
        return;
    case FakeHttpResponse::Behaviour::drop:
        m_answered = true;
        abort();
        return;
    case FakeHttpResponse::Behaviour::respond:
    case FakeHttpResponse::Behaviour::dropMidBody:
    case FakeHttpResponse::Behaviour::stallMidBody:
        break;
    }
    if (response.delay.count() > 0) {
        m_answered = true;
        QTimer::singleShot(response.delay, this, [this, response] {
            m_answered = false;
            respond(response);
        });
        return;
    }
    respond(response);
}

void FakeHttpConnection::respond(const FakeHttpResponse& response)
{
    if (!m_socket || m_answered)
        return;
    m_answered = true;
    m_socket->write(response.sentBytes());
    // A stalled answer keeps the connection open; the others close it once the bytes are out.
    if (response.behaviour != FakeHttpResponse::Behaviour::stallMidBody)
        m_socket->disconnectFromHost();
}

void FakeHttpConnection::finish()
{
    if (!m_responder)
        return;
    m_responder = nullptr;
    emit finished();
    deleteLater();
}

} // namespace tessvale
