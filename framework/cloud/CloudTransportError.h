#pragma once

#include <optional>
#include <stdexcept>

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

namespace tessvale {

// A failure of the transfer itself (no connection, time-out, TLS, a dropped or refused stream),
// as opposed to an answer the service gave. The REST client and the streaming connection pass
// these on; the description is a short sentence fit for the user and the logs.
class CloudTransportError : public std::exception
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

    CloudTransportError(Code code, const QString& description);

    // The streaming connection's opening request answered with status instead of an upgrade.
    static CloudTransportError refusedOpening(int httpStatusCode);

    // Maps a finished reply's network error; the reply's own error text is kept as detail.
    static CloudTransportError fromNetworkError(QNetworkReply::NetworkError error, const QString& detail);

    Code code() const { return m_code; }
    QString errorDescription() const { return m_description; }
    bool isCancellation() const { return m_code == Code::cancelled; }
    // The status of a refused opening (401: the API key was not accepted); absent otherwise.
    std::optional<int> httpStatusCode() const { return m_httpStatusCode; }
    const char* what() const noexcept override;

private:
    Code m_code;
    QString m_description;
    std::optional<int> m_httpStatusCode;
    QByteArray m_what;
};

} // namespace tessvale
