#include "FakeHttpExchange.h"

namespace tessvale {

namespace {

QByteArray reasonPhrase(int statusCode)
{
    switch (statusCode) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

bool FakeHttpRequest::hasHeader(const QByteArray& name) const
{
    return headerCount(name) > 0;
}

QByteArray FakeHttpRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

int FakeHttpRequest::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            ++count;
    }
    return count;
}

FakeHttpResponse FakeHttpResponse::json(int statusCode, const QByteArray& body)
{
    FakeHttpResponse response;
    response.statusCode = statusCode;
    response.body = body;
    return response;
}

FakeHttpResponse FakeHttpResponse::text(int statusCode, const QByteArray& body)
{
    FakeHttpResponse response = json(statusCode, body);
    response.contentType = "text/plain; charset=utf-8";
    return response;
}

FakeHttpResponse FakeHttpResponse::redirect(int statusCode, const QUrl& location)
{
    FakeHttpResponse response = text(statusCode, "redirected");
    response.headers.append({ "Location", location.toEncoded() });
    return response;
}

FakeHttpResponse FakeHttpResponse::html(int statusCode, const QByteArray& body)
{
    FakeHttpResponse response = json(statusCode, body);
    response.contentType = "text/html; charset=utf-8";
    return response;
}

FakeHttpResponse FakeHttpResponse::hang()
{
    FakeHttpResponse response;
    response.behaviour = Behaviour::hang;
    return response;
}

FakeHttpResponse FakeHttpResponse::drop()
{
    FakeHttpResponse response;
    response.behaviour = Behaviour::drop;
    return response;
}

FakeHttpResponse FakeHttpResponse::cutMidBody(Behaviour behaviour, const QByteArray& body)
{
    FakeHttpResponse response = json(200, body);
    response.behaviour = behaviour;
    return response;
}

QByteArray FakeHttpResponse::serialized() const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + reasonPhrase(statusCode) + "\r\n";
    if (!contentType.isEmpty() && statusCode != 204)
        out += "Content-Type: " + contentType + "\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (statusCode != 204)
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    if (statusCode != 204)
        out += body;
    return out;
}

QByteArray FakeHttpResponse::sentBytes() const
{
    const QByteArray whole = serialized();
    if (behaviour != Behaviour::dropMidBody && behaviour != Behaviour::stallMidBody)
        return whole;
    // Content-Length still announces the whole body.
    return whole.left(whole.size() - body.size() + body.size() / 2);
}

} // namespace tessvale
