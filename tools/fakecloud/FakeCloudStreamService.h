#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketProtocol>
#include <QWebSocketServer>

#include "FakeHttpExchange.h"

namespace tessvale {

// The streaming side of the fake service: a secure WebSocket endpoint that records every opening
// request and frame, answers the dictation protocol by itself, and lets a test misbehave on purpose.
class FakeCloudStreamService : public QObject
{
    Q_OBJECT

public:
    static inline const QString streamPath = QStringLiteral("/client/v1/stream");

    struct Connection
    {
        QPointer<QWebSocket> socket;
        // The opening request as received: target and headers.
        QUrl requestURL;
        FakeHeaders headers;
        QStringList textFrames;
        QList<QByteArray> binaryFrames;
        bool closed = false;
        // The code of the close handshake, as the server saw it once closed; absent when the
        // connection ended without one.
        std::optional<QWebSocketProtocol::CloseCode> closeCode;
        // How the connection went: a close handshake began, the socket failed.
        bool closeFrameSeen = false;
        bool failed = false;
        // Decoded audio bytes of the current session (since its StartSession).
        qint64 audioBytes = 0;

        QByteArray header(const QByteArray& name) const;
        int headerCount(const QByteArray& name) const;
    };

    explicit FakeCloudStreamService(QObject* parent = nullptr);
    ~FakeCloudStreamService() override;

    // Port 0 lets the system choose.
    bool listen(const QSslConfiguration& configuration, QString* error = nullptr, quint16 port = 0);
    quint16 port() const;
    // wss://localhost:<port>/client/v1/stream
    QUrl url() const;

    // Answers StartSession, Ping, StopSession and CancelSession as the service does (default on).
    void setAutoRespond(bool enabled) { m_autoRespond = enabled; }
    // The transcript that a StopSession commits.
    void setCommittedText(const QString& text) { m_committedText = text; }
    // While set, a StopSession commits demoTranscript() of the session's audio instead, so a person
    // trying the application sees where the text came from and that the audio arrived.
    void setDemoTranscripts(bool enabled) { m_demoTranscripts = enabled; }
    // 16 kHz 16-bit mono PCM, as the configuration announces.
    static QString demoTranscript(qint64 audioBytes);
    // Closes the connection with 1000 after SessionCompleted (default off).
    void setCloseAfterCompletion(bool enabled) { m_closeAfterCompletion = enabled; }
    // While set, new connections get no TLS or WebSocket handshake at all.
    void setHandshakeHangs(bool hangs);
    // While set, opening handshakes are refused (HTTP 403) instead of upgraded.
    void setRejectUpgrades(bool reject) { m_rejectUpgrades = reject; }
    // While set, a Ping ends its connection without a close frame instead of getting its Pong.
    void setDropOnPing(bool drop) { m_dropOnPing = drop; }

    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    // index -1 is the newest connection.
    const Connection& connection(int index = -1) const;
    int openConnectionCount() const;
    // The session that the connection's StartSession named; empty before one arrived.
    QString sessionID(int index = -1) const;

    // Acts on the newest connection.
    void sendText(const QString& frame);
    void sendBinary(const QByteArray& frame);
    // A message of the service's own: {"Case": caseName, "Fields": fields}.
    void sendMessage(const QString& caseName, const QJsonArray& fields = {});
    void close(QWebSocketProtocol::CloseCode code, const QString& reason = {});
    // Ends the TCP connection without a close frame.
    void drop();

signals:
    void connectionOpened();
    void frameReceived();
    void connectionClosed();

private:
    void acceptPending();
    void receive(Connection* connection, const QString& frame);
    void answer(Connection* connection, const QString& frame);
    Connection* newest();

    std::unique_ptr<QWebSocketServer> m_server;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QString m_committedText = QStringLiteral("Hello from the fake cloud.");
    bool m_autoRespond = true;
    bool m_closeAfterCompletion = false;
    bool m_rejectUpgrades = false;
    bool m_dropOnPing = false;
    bool m_demoTranscripts = false;
};

} // namespace tessvale
