#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include "FakeHttpExchange.h"
#include "HttpRequestReader.h"

namespace tessvale {

// Serves one HTTP/1.1 request on one connection (TLS, or plain for the sign-in page), then closes it
// ("Connection: close").
class FakeHttpConnection : public QObject
{
    Q_OBJECT

public:
    using Responder = std::function<FakeHttpResponse(const FakeHttpRequest&)>;

    // Largest request head and body the fake accepts; bigger requests are answered with 413.
    static constexpr qsizetype maxHeadBytes = 64 * 1024;
    static constexpr qsizetype maxBodyBytes = 4 * 1024 * 1024;

    FakeHttpConnection(QTcpSocket* socket, Responder responder, QObject* parent = nullptr);
    ~FakeHttpConnection() override;

    // Drops the connection at once (server shutdown, hanging requests).
    void abort();
    // Answers a request that was left hanging.
    void answerLate(const FakeHttpResponse& response);

signals:
    void finished();

private:
    void readAvailable();
    void respond(const FakeHttpResponse& response);
    void finish();

    QPointer<QTcpSocket> m_socket;
    Responder m_responder;
    HttpRequestReader m_reader { maxHeadBytes, maxBodyBytes };
    FakeHttpRequest m_request;
    bool m_answered = false;
};

} // namespace tessvale
