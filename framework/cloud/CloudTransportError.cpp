#include "cloud/CloudTransportError.h"

namespace tessvale {

CloudTransportError::CloudTransportError(Code code, const QString& description, std::optional<int> httpStatusCode)
    : TessvaleError(description, httpStatusCode)
    , m_code(code)
{
}

CloudTransportError CloudTransportError::refusedOpening(int httpStatusCode)
{
    return CloudTransportError(Code::refused,
        QStringLiteral("The cloud service refused the streaming connection (HTTP status %1).").arg(httpStatusCode),
        httpStatusCode);
}

CloudTransportError CloudTransportError::fromNetworkError(QNetworkReply::NetworkError error, const QString& detail)
{
    const QString suffix = detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + QLatin1Char(')');
    switch (error) {
    case QNetworkReply::OperationCanceledError:
        return CloudTransportError(Code::cancelled, QStringLiteral("The request was cancelled."));
    case QNetworkReply::TimeoutError:
        return CloudTransportError(Code::timedOut, QStringLiteral("The request timed out."));
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return CloudTransportError(
            Code::cannotConnect, QStringLiteral("Could not connect to the cloud service") + suffix + QLatin1Char('.'));
    case QNetworkReply::SslHandshakeFailedError:
        return CloudTransportError(Code::secureConnectionFailed,
            QStringLiteral("A secure connection to the cloud service could not be made") + suffix + QLatin1Char('.'));
    case QNetworkReply::RemoteHostClosedError:
        return CloudTransportError(
            Code::connectionLost, QStringLiteral("The connection to the cloud service was lost."));
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::TooManyRedirectsError:
        return CloudTransportError(
            Code::redirectRefused, QStringLiteral("The cloud service redirected the request; it was not followed."));
    default:
        return CloudTransportError(Code::other, QStringLiteral("The cloud request failed") + suffix + QLatin1Char('.'));
    }
}

} // namespace tessvale
