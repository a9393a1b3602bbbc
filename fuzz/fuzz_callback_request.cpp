// Feeds arbitrary request heads, as any local process may send them, to the sign-in listener's
// request reader. Only a GET of the callback path carrying the attempt's state is delivered, and
// what is delivered is the callback with the request's query.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QUrlQuery>

#include "auth/CallbackRequest.h"

using namespace tessvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QUrl redirect(QStringLiteral("http://127.0.0.1:43123/native-auth/callback"));
    static const QString state = QStringLiteral("s7-state");
    const QByteArray head = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const bool checkState : { true, false }) {
        const CallbackRequestAnswer answer
            = answerCallbackRequest(head, redirect, checkState ? std::optional(state) : std::nullopt);
        if ((answer.status == 200) != answer.callback.has_value() || answer.reason.isEmpty())
            std::abort();
        if (!answer.callback)
            continue;
        if (!head.startsWith("GET ") || !answer.callback->isValid() || answer.callback->scheme() != redirect.scheme()
            || answer.callback->host() != redirect.host() || answer.callback->port() != redirect.port()
            || answer.callback->path() != redirect.path())
            std::abort();
        const QUrlQuery query(*answer.callback);
        if (checkState && query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != state)
            std::abort();
    }
    return 0;
}
