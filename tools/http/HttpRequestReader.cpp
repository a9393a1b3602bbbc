#include "HttpRequestReader.h"

namespace tessvale {

HttpRequestReader::HttpRequestReader(qsizetype maxHeadBytes, qsizetype maxBodyBytes)
    : m_maxHeadBytes(maxHeadBytes)
    , m_maxBodyBytes(maxBodyBytes)
{
}

HttpRequestReader::State HttpRequestReader::feed(const QByteArray& bytes)
{
    m_buffer += bytes;
    if (m_state == State::needMore)
        m_state = read();
    return m_state;
}

HttpRequestReader::State HttpRequestReader::next()
{
    if (m_state != State::complete)
        return m_state;
    m_request = {};
    m_bodyLength = -1;
    m_state = read();
    return m_state;
}

HttpRequestReader::State HttpRequestReader::read()
{
    if (m_bodyLength < 0) {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return m_buffer.size() > m_maxHeadBytes ? State::headTooLarge : State::needMore;
        const QByteArray head = m_buffer.left(end);
        m_buffer.remove(0, end + 4);
        if (!parseHead(head))
            return State::malformed;
        if (m_bodyLength > m_maxBodyBytes)
            return State::bodyTooLarge;
    }
    if (m_buffer.size() < m_bodyLength)
        return State::needMore;
    m_request.body = m_buffer.left(m_bodyLength);
    m_buffer.remove(0, m_bodyLength);
    return State::complete;
}

bool HttpRequestReader::parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    m_request.method = requestLine.at(0);
    m_request.target = requestLine.at(1);
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

} // namespace tessvale
