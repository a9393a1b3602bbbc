#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "async/Sleeper.h"
#include "cloud/ClientStreamMessage.h"
#include "cloud/CloudEndpoints.h"
#include "cloud/ServerStreamMessage.h"
#include "cloud/WireDecoding.h"

namespace tessvale {

// One streaming connection to the speech service, for one dictation session. Incoming frames are
// decoded and handed to the message handler in order; the end of the stream is reported exactly
// once to the termination handler: with no error when it was expected (disconnect(), or a close
// frame from the service with code 1000), with the error otherwise. Lives on the main thread.
// Both handlers, and senders waiting for the opening, are called from the event loop in one queue
// per connection, never from inside connect(), send() or disconnect(): a handler may destroy the
// session. A refused opening ends with CloudTransportError refused, carrying the HTTP status.
class CloudWebSocketSession : public QObject
{
    Q_OBJECT

public:
    using MessageHandler = std::function<void(const ServerStreamMessage&)>;
    // A null error means the stream ended as expected.
    using TerminationHandler = std::function<void(std::exception_ptr)>;

    static constexpr Duration defaultOpeningTimeout = std::chrono::seconds(60);
    // Frames and messages from the service larger than this end the connection with an error.
    static constexpr quint64 maxIncomingMessageBytes = kMaxWireMessageBytes;
    // How long a closing socket may take to finish its close handshake before it is dropped.
    static constexpr std::chrono::milliseconds closeHandshakeGrace { 2000 };
    static inline const QByteArray apiKeyHeader = cloudApiKeyHeader;

    struct Options
    {
        // Production trusts the system's CAs (for a loopback host also those named by
        // TESSVALE_LOOPBACK_CA_FILE, see LoopbackTrust.h); tests give their own.
        std::optional<QSslConfiguration> sslConfiguration;
        Duration openingTimeout = defaultOpeningTimeout;
        // Sleeper::system() when null.
        Sleeper* sleeper = nullptr;
    };

    CloudWebSocketSession(const QUrl& url, const QString& apiKey, QObject* parent = nullptr);
    CloudWebSocketSession(const QUrl& url, const QString& apiKey, Options options, QObject* parent = nullptr);
    // Drops a running connection at once, without a termination report.
    ~CloudWebSocketSession() override;

    const QUrl& url() const { return m_url; }
    // True between the completed opening handshake and the end of the stream.
    bool isOpen() const;

    // Opens the socket and returns at once; the handshake runs in the background and its failure
    // shows as the termination report. A second call ends the first connection first (reported
    // with no error) so no socket is left behind.
    void connect(MessageHandler handler, TerminationHandler terminationHandler);

    // Sends one text frame. While the opening handshake is still running it waits for it, so a
    // frame sent right after connect() is never lost; it fails when the connection never opens.
    // Throws CloudClientError "WebSocket session is not connected." before connect() and after
    // disconnect(), and CloudTransportError once the stream has ended.
    QCoro::Task<> send(ClientStreamMessage message);

    // Stops delivering frames, closes the socket with code 1000 and reports the end (no error)
    // after returning. Harmless before connect() and when repeated.
    QCoro::Task<> disconnect();

private:
    struct Connection;

    void retire(const std::shared_ptr<Connection>& connection, bool graceful);
    static QCoro::Task<> watchOpening(
        std::weak_ptr<Connection> connection, Sleeper* sleeper, Duration timeout, CancelToken token);

    QUrl m_url;
    QString m_apiKey;
    Options m_options;
    std::shared_ptr<Connection> m_connection;
};

} // namespace tessvale
