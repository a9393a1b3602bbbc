#include "platform/linux/system/NetworkEnvelopeTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <qcoro/qcoronetworkreply.h>

#include "base/Logging.h"

namespace tessvale {

NetworkEnvelopeTransport::NetworkEnvelopeTransport(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

NetworkEnvelopeTransport::~NetworkEnvelopeTransport() = default;

QCoro::Task<EnvelopeDelivery> NetworkEnvelopeTransport::send(QUrl endpoint, QByteArray authHeader, QByteArray envelope)
{
    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-sentry-envelope"));
    request.setRawHeader(QByteArrayLiteral("X-Sentry-Auth"), authHeader);
    request.setTransferTimeout(static_cast<int>(m_timeout.count()));
    QPointer<QNetworkReply> reply = m_manager->post(request, envelope);
    QNetworkReply* pending = reply.data();
    co_await pending;
    if (!reply)
        co_return EnvelopeDelivery::retryLater;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 200 && status < 300)
        co_return EnvelopeDelivery::delivered;
    if (status == 0) {
        qCInfo(lcErrorMonitoring).noquote() << "Report not sent, will retry:" << reply->errorString();
        co_return EnvelopeDelivery::retryLater;
    }
    if (status == 429 || status >= 500) {
        qCInfo(lcErrorMonitoring) << "Report not accepted now (HTTP" << status << "), will retry.";
        co_return EnvelopeDelivery::retryLater;
    }
    qCWarning(lcErrorMonitoring) << "Report refused (HTTP" << status << "); dropping it.";
    co_return EnvelopeDelivery::rejected;
}

} // namespace tessvale
