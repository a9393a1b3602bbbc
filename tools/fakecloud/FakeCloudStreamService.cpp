#include "FakeCloudStreamService.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QWebSocketCorsAuthenticator>

namespace tessvale {

namespace {

QString frame(const QString& caseName, const QJsonArray& fields)
{
    QJsonObject envelope { { QStringLiteral("Case"), caseName } };
    if (!fields.isEmpty())
        envelope.insert(QStringLiteral("Fields"), fields);
    return QString::fromUtf8(QJsonDocument(envelope).toJson(QJsonDocument::Compact));
}

QJsonObject stateEnvelope(const QString& state)
{
    return QJsonObject { { QStringLiteral("Case"), state } };
}

QString startedSessionID(const QStringList& textFrames)
{
    for (const QString& earlier : textFrames) {
        const QJsonObject start = QJsonDocument::fromJson(earlier.toUtf8()).object();
        if (start.value(QStringLiteral("Case")).toString() == QStringLiteral("StartSession")) {
            return start.value(QStringLiteral("Fields"))
                .toArray()
                .at(0)
                .toObject()
                .value(QStringLiteral("SessionId"))
                .toString();
        }
    }
    return {};
}

} // namespace

QByteArray FakeCloudStreamService::Connection::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

int FakeCloudStreamService::Connection::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

FakeCloudStreamService::FakeCloudStreamService(QObject* parent)
    : QObject(parent)
{
}

FakeCloudStreamService::~FakeCloudStreamService()
{
    for (const auto& connection : m_connections) {
        if (connection->socket) {
            connection->socket->disconnect(this);
            connection->socket->abort();
        }
    }
    if (m_server)
        m_server->close();
}

bool FakeCloudStreamService::listen(const QSslConfiguration& configuration, QString* error, quint16 port)
{
    m_server = std::make_unique<QWebSocketServer>(QStringLiteral("Tessvale fake cloud"), QWebSocketServer::SecureMode);
    m_server->setSslConfiguration(configuration);
    connect(m_server.get(), &QWebSocketServer::newConnection, this, &FakeCloudStreamService::acceptPending);
    connect(m_server.get(), &QWebSocketServer::originAuthenticationRequired, this,
        [this](QWebSocketCorsAuthenticator* authenticator) { authenticator->setAllowed(!m_rejectUpgrades); });
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    return true;
}

quint16 FakeCloudStreamService::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QUrl FakeCloudStreamService::url() const
{
    QUrl url;
    url.setScheme(QStringLiteral("wss"));
    url.setHost(QStringLiteral("localhost"));
    url.setPort(port());
    url.setPath(streamPath);
    return url;
}

QString FakeCloudStreamService::demoTranscript(qint64 audioBytes)
{
    constexpr double bytesPerSecond = 16000.0 * 2;
    return QStringLiteral("Tessvale demo service: received %1 seconds of audio.")
        .arg(double(audioBytes) / bytesPerSecond, 0, 'f', 1);
}

void FakeCloudStreamService::setHandshakeHangs(bool hangs)
{
    if (!m_server)
        return;
    // The kernel still completes the TCP connection from its backlog; nothing answers on it.
    if (hangs)
        m_server->pauseAccepting();
    else
        m_server->resumeAccepting();
}

const FakeCloudStreamService::Connection& FakeCloudStreamService::connection(int index) const
{
    static const Connection none;
    if (m_connections.empty())
        return none;
    if (index < 0)
        index = static_cast<int>(m_connections.size()) + index;
    if (index < 0 || index >= static_cast<int>(m_connections.size()))
        return none;
    return *m_connections.at(index);
}

int FakeCloudStreamService::openConnectionCount() const
{
    int count = 0;
    for (const auto& connection : m_connections)
        count += connection->closed ? 0 : 1;
    return count;
}

QString FakeCloudStreamService::sessionID(int index) const
{
    return startedSessionID(connection(index).textFrames);
}

FakeCloudStreamService::Connection* FakeCloudStreamService::newest()
{
    return m_connections.empty() ? nullptr : m_connections.back().get();
}

void FakeCloudStreamService::sendText(const QString& text)
{
    if (auto* connection = newest(); connection && connection->socket)
        connection->socket->sendTextMessage(text);
}

void FakeCloudStreamService::sendMessage(const QString& caseName, const QJsonArray& fields)
{
    sendText(frame(caseName, fields));
}

void FakeCloudStreamService::sendBinary(const QByteArray& bytes)
{
    if (auto* connection = newest(); connection && connection->socket)
        connection->socket->sendBinaryMessage(bytes);
}

void FakeCloudStreamService::close(QWebSocketProtocol::CloseCode code, const QString& reason)
{
    if (auto* connection = newest(); connection && connection->socket)
        connection->socket->close(code, reason);
}

void FakeCloudStreamService::drop()
{
    if (auto* connection = newest(); connection && connection->socket)
        connection->socket->abort();
}

void FakeCloudStreamService::acceptPending()
{
    while (QWebSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        auto record = std::make_unique<Connection>();
        Connection* connection = record.get();
        connection->socket = socket;
        const QNetworkRequest request = socket->request();
        connection->requestURL = request.url();
        for (const QByteArray& name : request.rawHeaderList())
            connection->headers.append({ name, request.rawHeader(name) });
        m_connections.push_back(std::move(record));

        connect(socket, &QWebSocket::textMessageReceived, this,
            [this, connection](const QString& text) { receive(connection, text); });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, connection](const QByteArray& bytes) {
            connection->binaryFrames.append(bytes);
            emit frameReceived();
        });
        // A close handshake shows as aboutToClose before the end; a vanished client as an error,
        // and a connection the fake drops ends first. Qt's closeCode() reads 1000 in all of them.
        connect(socket, &QWebSocket::aboutToClose, this, [connection] {
            if (!connection->closed && !connection->failed)
                connection->closeFrameSeen = true;
        });
        connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [connection](QAbstractSocket::SocketError) { connection->failed = true; });
        connect(socket, &QWebSocket::disconnected, this, [this, connection, socket] {
            connection->closed = true;
            if (connection->closeFrameSeen && !connection->failed)
                connection->closeCode = socket->closeCode();
            socket->deleteLater();
            emit connectionClosed();
        });
        emit connectionOpened();
    }
}

void FakeCloudStreamService::receive(Connection* connection, const QString& text)
{
    connection->textFrames.append(text);
    if (m_autoRespond)
        answer(connection, text);
    emit frameReceived();
}

void FakeCloudStreamService::answer(Connection* connection, const QString& text)
{
    QPointer<QWebSocket> socket = connection->socket;
    if (!socket)
        return;
    const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString caseName = envelope.value(QStringLiteral("Case")).toString();
    const QJsonArray fields = envelope.value(QStringLiteral("Fields")).toArray();

    // The session of this connection is named by its start message.
    const QString sessionID = startedSessionID(connection->textFrames);

    if (caseName == QStringLiteral("AudioChunk")) {
        const QString data = fields.at(0).toObject().value(QStringLiteral("DataBase64")).toString();
        connection->audioBytes += QByteArray::fromBase64(data.toLatin1()).size();
    } else if (caseName == QStringLiteral("StartSession")) {
        connection->audioBytes = 0;
        socket->sendTextMessage(frame(QStringLiteral("SessionStarted"), { sessionID }));
        socket->sendTextMessage(frame(QStringLiteral("SessionStateChanged"),
            { QJsonObject { { QStringLiteral("SessionId"), sessionID },
                { QStringLiteral("State"), stateEnvelope(QStringLiteral("Recording")) } } }));
    } else if (caseName == QStringLiteral("Ping") && m_dropOnPing) {
        socket->abort();
    } else if (caseName == QStringLiteral("Ping")) {
        socket->sendTextMessage(frame(QStringLiteral("Pong"), { fields.at(0) }));
    } else if (caseName == QStringLiteral("StopSession")) {
        const QString committed = m_demoTranscripts ? demoTranscript(connection->audioBytes) : m_committedText;
        socket->sendTextMessage(frame(QStringLiteral("SessionStateChanged"),
            { QJsonObject { { QStringLiteral("SessionId"), sessionID },
                { QStringLiteral("State"), stateEnvelope(QStringLiteral("FinalizingStt")) } } }));
        socket->sendTextMessage(frame(QStringLiteral("FinalTranscript"),
            { QJsonObject { { QStringLiteral("SessionId"), sessionID }, { QStringLiteral("RawText"), committed },
                { QStringLiteral("FinalText"), committed } } }));
        socket->sendTextMessage(frame(QStringLiteral("TranscriptCommitted"),
            { QJsonObject {
                { QStringLiteral("SessionId"), sessionID }, { QStringLiteral("FinalText"), committed } } }));
        socket->sendTextMessage(frame(QStringLiteral("SessionCompleted"), { sessionID }));
        if (m_closeAfterCompletion)
            socket->close(QWebSocketProtocol::CloseCodeNormal);
    } else if (caseName == QStringLiteral("CancelSession")) {
        socket->sendTextMessage(frame(QStringLiteral("SessionStateChanged"),
            { QJsonObject { { QStringLiteral("SessionId"), sessionID },
                { QStringLiteral("State"), stateEnvelope(QStringLiteral("CanceledByClient")) } } }));
        socket->close(QWebSocketProtocol::CloseCodeNormal);
    }
}

} // namespace tessvale
