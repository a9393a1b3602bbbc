#pragma once

#include <QNetworkReply>
#include <QString>

#include "base/TessvaleError.h"

namespace tessvale {

// A failure of the transfer itself (no connection, time-out, TLS, a dropped or refused stream),
// as opposed to an answer the service gave. The REST client and the streaming connection pass
// these on; the description is a short sentence fit for the user and the logs.
class CloudTransportError : public TessvaleError
{
public:
    enum class Code {
        cancelled,
        timedOut,
        cannotConnect,
        secureConnectionFailed,
        connectionLost,
        redirectRefused,
        messageTooLarge,
        closedAbnormally,
        // The service answered the opening of the streaming connection with an HTTP status.
        refused,
        other,
    };

    CloudTransportError(Code code, const QString& description, std::optional<int> httpStatusCode = std::nullopt);

    // The streaming connection's opening request answered with status instead of an upgrade.
    static CloudTransportError refusedOpening(int httpStatusCode);

    // Maps a finished reply's network error; the reply's own error text is kept as detail.
    static CloudTransportError fromNetworkError(QNetworkReply::NetworkError error, const QString& detail);

    Code code() const { return m_code; }
    bool isCancellation() const { return m_code == Code::cancelled; }
    // httpStatusCode(): the status of a refused opening (401: the API key was not accepted); absent
    // otherwise.

private:
    Code m_code;
};

} // namespace tessvale
