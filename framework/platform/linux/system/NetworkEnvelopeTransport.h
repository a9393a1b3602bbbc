#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <memory>

#include "platform/system/EnvelopeTransport.h"

class QNetworkAccessManager;

namespace tessvale {

// Posts envelopes over HTTPS (or HTTP for a local endpoint) with Qt's network access manager,
// created on the thread of the first send.
class NetworkEnvelopeTransport : public EnvelopeTransport
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 10000 };

    explicit NetworkEnvelopeTransport(std::chrono::milliseconds timeout = defaultTimeout);
    ~NetworkEnvelopeTransport() override;

    QCoro::Task<EnvelopeDelivery> send(QUrl endpoint, QByteArray authHeader, QByteArray envelope) override;

private:
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

} // namespace tessvale
