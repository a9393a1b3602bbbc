#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tessvale {

// The loopback listener's answer to one request head: the status line, the body, and the callback
// URL to deliver (only with status 200).
struct CallbackRequestAnswer
{
    int status = 400;
    QByteArray reason = QByteArrayLiteral("Bad Request");
    QByteArray body = QByteArrayLiteral("Bad request.\n");
    bool html = false;
    std::optional<QUrl> callback;
    // The path asked for, when it is not the callback's (for the log: a query may hold a code).
    QString unknownPath;
    bool stateMismatch = false;
};

// Answers a request head (its request line and header lines, each ending in CRLF) for the callback
// at redirectURL; a request must carry expectedState, when given, as its "state".
CallbackRequestAnswer answerCallbackRequest(
    const QByteArray& head, const QUrl& redirectURL, const std::optional<QString>& expectedState);

} // namespace tessvale
