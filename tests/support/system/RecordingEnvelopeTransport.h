#pragma once

#include <QList>

#include "platform/system/EnvelopeTransport.h"

namespace tessvale::testing {

// Records every envelope and answers with a chosen delivery.
class RecordingEnvelopeTransport : public EnvelopeTransport
{
public:
    struct Sent
    {
        QUrl endpoint;
        QByteArray authHeader;
        QByteArray envelope;
    };

    QCoro::Task<EnvelopeDelivery> send(QUrl endpoint, QByteArray authHeader, QByteArray envelope) override;

    EnvelopeDelivery answer = EnvelopeDelivery::delivered;
    QList<Sent> sent;
};

} // namespace tessvale::testing
