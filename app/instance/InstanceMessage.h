#pragma once

#include <QByteArray>
#include <QUrl>

namespace tessvale {

// A message between two starts is a 32-bit big-endian length and that many bytes of UTF-8: a URL,
// or nothing for an activation. The instance answers a well-formed message with one byte.
inline constexpr qsizetype instanceMessageHeaderSize = 4;
inline constexpr char instanceMessageAcknowledgement = '\x06';
// Messages larger than this are dropped: a URL the desktop hands over is far shorter.
inline constexpr qsizetype maximumInstanceMessageSize = 8 * 1024;

struct InstanceMessageReading
{
    enum class Status {
        // More bytes may still make a message.
        incomplete,
        complete,
        tooLarge,
        trailingBytes,
        notURL,
    };
    Status status = Status::incomplete;
    // Of a complete message; empty for an activation.
    QUrl url;
};

QByteArray encodedInstanceMessage(const QUrl& url);
// Reads what one connection sent so far.
InstanceMessageReading readInstanceMessage(const QByteArray& received);
// Why a reading is dropped, for the log; empty for the others.
const char* droppedReason(InstanceMessageReading::Status status);

} // namespace tessvale
