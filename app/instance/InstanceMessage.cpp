#include "instance/InstanceMessage.h"

#include <QStringDecoder>
#include <QtEndian>

namespace tessvale {

QByteArray encodedInstanceMessage(const QUrl& url)
{
    const QByteArray payload = url.isEmpty() ? QByteArray() : url.toString(QUrl::FullyEncoded).toUtf8();
    QByteArray message(instanceMessageHeaderSize, Qt::Uninitialized);
    qToBigEndian(quint32(payload.size()), message.data());
    return message + payload;
}

InstanceMessageReading readInstanceMessage(const QByteArray& received)
{
    using Status = InstanceMessageReading::Status;
    if (received.size() < instanceMessageHeaderSize)
        return {};
    const quint32 length = qFromBigEndian<quint32>(received.constData());
    if (length > quint32(maximumInstanceMessageSize))
        return { Status::tooLarge, {} };
    const qsizetype total = instanceMessageHeaderSize + qsizetype(length);
    if (received.size() < total)
        return {};
    if (received.size() > total)
        return { Status::trailingBytes, {} };
    const QByteArray payload = received.mid(instanceMessageHeaderSize);
    if (payload.isEmpty())
        return { Status::complete, {} };
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder(payload);
    const QUrl url(text, QUrl::StrictMode);
    if (decoder.hasError() || !url.isValid() || url.scheme().isEmpty())
        return { Status::notURL, {} };
    return { Status::complete, url };
}

const char* droppedReason(InstanceMessageReading::Status status)
{
    switch (status) {
    case InstanceMessageReading::Status::tooLarge:
        return "too large";
    case InstanceMessageReading::Status::trailingBytes:
        return "trailing bytes";
    case InstanceMessageReading::Status::notURL:
        return "not a URL";
    case InstanceMessageReading::Status::incomplete:
    case InstanceMessageReading::Status::complete:
        break;
    }
    return "";
}

} // namespace tessvale
