#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace tessvale {

// One HTTP/1.1 request as a test server received it, before any interpretation of its target.
struct ReceivedHttpRequest
{
    QByteArray method;
    QByteArray target;
    // In the order sent, names as sent.
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Reads requests from a byte stream that arrives in pieces, for the loopback test servers. The
// product's own sign-in listener has its own parser on purpose: the fixtures stay an independent check.
class HttpRequestReader
{
public:
    enum class State {
        needMore,
        complete,
        malformed,
        headTooLarge,
        bodyTooLarge,
    };

    HttpRequestReader(qsizetype maxHeadBytes, qsizetype maxBodyBytes);

    // Appends bytes and reads as far as they go. After complete, request() holds the request and
    // next() starts on the bytes that followed it.
    State feed(const QByteArray& bytes);
    const ReceivedHttpRequest& request() const { return m_request; }
    State next();

private:
    State read();
    bool parseHead(const QByteArray& head);

    qsizetype m_maxHeadBytes;
    qsizetype m_maxBodyBytes;
    QByteArray m_buffer;
    ReceivedHttpRequest m_request;
    qsizetype m_bodyLength = -1;
    State m_state = State::needMore;
};

} // namespace tessvale
