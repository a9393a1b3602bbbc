#include "support/system/RecordingEnvelopeTransport.h"

namespace tessvale::testing {

QCoro::Task<EnvelopeDelivery> RecordingEnvelopeTransport::send(
    QUrl endpoint, QByteArray authHeader, QByteArray envelope)
{
    sent.append(Sent { endpoint, authHeader, envelope });
    co_return answer;
}

} // namespace tessvale::testing
