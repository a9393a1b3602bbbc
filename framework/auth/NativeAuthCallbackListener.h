#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include "base/TessvaleError.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tessvale {

// The loopback listener could not start, or its callback path cannot form a redirect URL.
class NativeAuthListenerError : public TessvaleError
{
public:
    explicit NativeAuthListenerError(const QString& description);
};

struct NativeAuthCallbackListenerOptions
{
    // When set, a callback whose "state" query item differs is refused and never reaches the handler.
    std::optional<QString> expectedState;
    // A connection that has not sent a whole request by then is closed without an answer.
    std::chrono::milliseconds requestTimeout { 10'000 };
    // A request head larger than this is refused.
    qsizetype maxRequestBytes = 16 * 1024;
    // Further simultaneous connections are closed at once.
    int maxConnections = 16;
};

// An HTTP listener on 127.0.0.1 that receives the browser's return from a sign-in page: one request
// per connection; every GET of the callback path (with the expected state, when one is set) is
// handed to the handler, which judges it: a stray local request cannot use up the real callback.
// Other paths get 404 and never reach the handler.
// Lives on the thread that started it; the handler is called there, from the event loop.
class NativeAuthCallbackListener final : public QObject
{
    Q_OBJECT

public:
    using CallbackHandler = std::function<void(const QUrl&)>;

    // Listens on a port the system chooses. callbackPath starts with "/" and is appended unchanged
    // to "http://127.0.0.1:<port>". Throws NativeAuthListenerError.
    static QCoro::Task<std::shared_ptr<NativeAuthCallbackListener>> start(
        QString callbackPath, CallbackHandler callbackHandler, NativeAuthCallbackListenerOptions options = {});

    ~NativeAuthCallbackListener() override;

    // The URL the browser is to return to.
    const QUrl& redirectURL() const { return m_redirectURL; }
    bool isListening() const;

    // Drops the handler, so nothing is delivered any more, and stops accepting connections.
    // Connections already accepted are still answered.
    void stop();

private:
    struct Connection;

    NativeAuthCallbackListener(
        QString callbackPath, CallbackHandler callbackHandler, NativeAuthCallbackListenerOptions options);

    void listen();
    void acceptCallbackConnection();
    void readRequest(QTcpSocket* socket);
    void handleEndOfInput(QTcpSocket* socket);
    void handleCallbackRequest(QTcpSocket* socket, const QByteArray& head);
    void reply(QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& contentType,
        const QByteArray& body);
    void closeConnection(QTcpSocket* socket);
    void deliver(const QUrl& url);
    void shutdown();

    QTcpServer* m_server = nullptr;
    QString m_callbackPath;
    QUrl m_redirectURL;
    NativeAuthCallbackListenerOptions m_options;
    std::unordered_map<QTcpSocket*, std::unique_ptr<Connection>> m_connections;
    // How many handler calls are running (a handler may run a nested event loop).
    int m_delivering = 0;

    std::mutex m_handlerMutex;
    CallbackHandler m_callbackHandler;
};

} // namespace tessvale
