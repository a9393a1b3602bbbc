#include "support/system/LoopbackIngestServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace tessvale::testing {

LoopbackIngestServer::LoopbackIngestServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackIngestServer::onNewConnection);
}

LoopbackIngestServer::~LoopbackIngestServer() = default;

bool LoopbackIngestServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void LoopbackIngestServer::close()
{
    m_server->close();
}

quint16 LoopbackIngestServer::port() const
{
    return m_server->serverPort();
}

bool LoopbackIngestServer::waitForRequests(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_requests.size() < count && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        connect(this, &LoopbackIngestServer::requestReceived, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_requests.size() >= count;
}

void LoopbackIngestServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_readers.erase(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackIngestServer::onReadyRead(QTcpSocket* socket)
{
    auto reader = m_readers.find(socket);
    if (reader == m_readers.end())
        reader = m_readers.emplace(socket, std::make_unique<HttpRequestReader>(64 * 1024, 16 * 1024 * 1024)).first;
    for (auto state = reader->second->feed(socket->readAll()); state == HttpRequestReader::State::complete;
         state = reader->second->next()) {
        const ReceivedHttpRequest& received = reader->second->request();
        IngestRequest request;
        request.method = received.method;
        request.path = received.target;
        for (const auto& [name, value] : received.headers)
            request.headers.insert(name.toLower(), value);
        request.body = received.body;
        m_requests.append(request);

        const QByteArray body = QJsonDocument(QJsonObject { { QStringLiteral("id"), QStringLiteral("accepted") } })
                                    .toJson(QJsonDocument::Compact);
        QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\n";
        response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
            + body;
        socket->write(response);
        emit requestReceived();
    }
}

ParsedEnvelope parseEnvelope(const QByteArray& envelope)
{
    ParsedEnvelope parsed;
    qsizetype at = envelope.indexOf('\n');
    if (at < 0) {
        parsed.error = QStringLiteral("no header line");
        return parsed;
    }
    parsed.headerLine = envelope.left(at);
    if (!QJsonDocument::fromJson(parsed.headerLine).isObject()) {
        parsed.error = QStringLiteral("header is not a JSON object");
        return parsed;
    }
    ++at;
    while (at < envelope.size()) {
        const qsizetype lineEnd = envelope.indexOf('\n', at);
        if (lineEnd < 0) {
            parsed.error = QStringLiteral("item header without newline");
            return parsed;
        }
        EnvelopeItem item;
        item.headerLine = envelope.mid(at, lineEnd - at);
        const QJsonObject itemHeader = QJsonDocument::fromJson(item.headerLine).object();
        if (itemHeader.isEmpty() || !itemHeader.value(QStringLiteral("length")).isDouble()) {
            parsed.error = QStringLiteral("item header without length");
            return parsed;
        }
        const qsizetype length = itemHeader.value(QStringLiteral("length")).toInteger();
        item.payload = envelope.mid(lineEnd + 1, length);
        if (item.payload.size() != length) {
            parsed.error = QStringLiteral("payload shorter than its length");
            return parsed;
        }
        at = lineEnd + 1 + length;
        if (at < envelope.size()) {
            if (envelope[at] != '\n') {
                parsed.error = QStringLiteral("payload longer than its length");
                return parsed;
            }
            ++at;
        }
        parsed.items.append(item);
    }
    parsed.valid = !parsed.items.isEmpty();
    if (!parsed.valid)
        parsed.error = QStringLiteral("no items");
    return parsed;
}

} // namespace tessvale::testing
