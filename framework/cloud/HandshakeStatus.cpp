#include "cloud/HandshakeStatus.h"

#include <QRegularExpression>

namespace tessvale {

// Qt WebSockets 6.4 names the status of a refused opening only inside its error text:
// "QWebSocketPrivate::processHandshake: Unhandled http status code: 401 (Unauthorized).".
std::optional<int> refusedOpeningStatus(const QString& socketErrorText)
{
    static const QRegularExpression pattern(QStringLiteral(R"(Unhandled http status code: (\d{3})\b)"));
    const QRegularExpressionMatch match = pattern.match(socketErrorText);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

} // namespace tessvale
