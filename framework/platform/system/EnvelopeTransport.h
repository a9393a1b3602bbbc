#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

namespace tessvale {

// What became of one envelope handed to the ingest endpoint.
enum class EnvelopeDelivery {
    delivered, // accepted (2xx): forget it
    rejected, // refused for good (4xx other than 429): retrying cannot help
    retryLater, // offline, time-out, 429 or 5xx: keep it queued
};

// Sends error-monitoring envelopes to the ingest endpoint.
class EnvelopeTransport
{
public:
    virtual ~EnvelopeTransport() = default;

    // Runs on the thread that owns the reporter; never throws.
    virtual QCoro::Task<EnvelopeDelivery> send(QUrl endpoint, QByteArray authHeader, QByteArray envelope) = 0;
};

} // namespace tessvale
