#include "auth/CallbackRequest.h"

#include <QList>
#include <QUrlQuery>

namespace tessvale {

namespace {

const QByteArray kPageBody
    = QByteArrayLiteral("<html><body><h1>Tessvale</h1><p>You can return to the app now.</p></body></html>");

struct RequestLine
{
    QByteArray method;
    QByteArray target;
};

// "METHOD SP origin-form-target SP HTTP/1.x"; anything else is malformed.
std::optional<RequestLine> parseRequestLine(const QByteArray& head)
{
    const qsizetype end = head.indexOf("\r\n");
    const QByteArray line = end < 0 ? head : head.left(end);
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || !parts[1].startsWith('/') || !parts[2].startsWith("HTTP/1."))
        return std::nullopt;
    return RequestLine { parts[0], parts[1] };
}

// Compares without leaking through timing how much of the expected text matched.
bool sameText(const QString& left, const QString& right)
{
    const QByteArray a = left.toUtf8();
    const QByteArray b = right.toUtf8();
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= uchar(a[i]) ^ uchar(b[i]);
    return difference == 0;
}

CallbackRequestAnswer answer(int status, const char* reason, const char* body)
{
    CallbackRequestAnswer result;
    result.status = status;
    result.reason = reason;
    result.body = body;
    return result;
}

} // namespace

CallbackRequestAnswer answerCallbackRequest(
    const QByteArray& head, const QUrl& redirectURL, const std::optional<QString>& expectedState)
{
    const std::optional<RequestLine> line = parseRequestLine(head);
    if (!line)
        return {};
    const QUrl requested(QStringLiteral("http://127.0.0.1") + QString::fromLatin1(line->target), QUrl::StrictMode);
    if (!requested.isValid())
        return {};
    if (requested.path(QUrl::FullyDecoded) != redirectURL.path(QUrl::FullyDecoded)) {
        CallbackRequestAnswer notFound = answer(404, "Not Found", "Not found.\n");
        notFound.unknownPath = requested.path();
        return notFound;
    }
    if (line->method != "GET")
        return answer(405, "Method Not Allowed", "Method not allowed.\n");
    if (expectedState) {
        const QUrlQuery query(requested);
        const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
        if (!query.hasQueryItem(QStringLiteral("state")) || !sameText(state, *expectedState)) {
            CallbackRequestAnswer mismatch
                = answer(400, "Bad Request", "This sign-in response does not belong to the current sign-in attempt.\n");
            mismatch.stateMismatch = true;
            return mismatch;
        }
    }
    CallbackRequestAnswer ok = answer(200, "OK", "");
    ok.body = kPageBody;
    ok.html = true;
    QUrl callback = redirectURL;
    if (requested.hasQuery())
        callback.setQuery(requested.query(QUrl::FullyEncoded), QUrl::StrictMode);
    ok.callback = callback;
    return ok;
}

} // namespace tessvale
