#include "FakeHttpConnection.h"

#include <QTimer>
#include <QUrl>

namespace tessvale {

FakeHttpConnection::FakeHttpConnection(QSslSocket* socket, Responder responder, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_responder(std::move(responder))
{
    socket->setParent(this);
    connect(socket, &QSslSocket::readyRead, this, &FakeHttpConnection::readAvailable);
    connect(socket, &QSslSocket::disconnected, this, &FakeHttpConnection::finish);
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

void FakeHttpConnection::readAvailable()
{
    if (!m_socket || m_answered)
        return;
    m_buffer += m_socket->readAll();
    if (m_bodyLength < 0) {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > maxHeadBytes)
                respond(FakeHttpResponse::text(413, "request head too large"));
            return;
        }
        const QByteArray head = m_buffer.left(end);
        m_buffer.remove(0, end + 4);
        if (!parseHead(head)) {
            respond(FakeHttpResponse::text(400, "malformed request"));
            return;
        }
        if (m_bodyLength > maxBodyBytes) {
            respond(FakeHttpResponse::text(413, "request body too large"));
            return;
        }
    }
    if (m_buffer.size() < m_bodyLength)
        return;
    m_request.body = m_buffer.left(m_bodyLength);
    m_buffer.clear();

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

bool FakeHttpConnection::parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    m_request.method = requestLine.at(0);
    m_request.target = requestLine.at(1);
    const QUrl url = QUrl::fromEncoded("https://fake" + m_request.target);
    m_request.path = url.path();
    m_request.query = QUrlQuery(url);
    m_bodyLength = 0;
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QByteArray line = lines.at(index).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        m_request.headers.append({ name, value });
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            m_bodyLength = value.toLongLong(&ok);
            if (!ok || m_bodyLength < 0)
                return false;
        }
    }
    return true;
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
