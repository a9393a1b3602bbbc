// Feeds arbitrary bytes, as another process on the single-instance socket may send them, to the
// instance's message reader. A complete message is a URL or an activation, and what a sender encodes
// from it is read back as the same message; anything else must be dropped or wait for more bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "instance/InstanceMessage.h"

using namespace tessvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const InstanceMessageReading reading = readInstanceMessage(bytes);
    using Status = InstanceMessageReading::Status;
    if (reading.status != Status::complete) {
        if (!reading.url.isEmpty())
            std::abort();
        if (reading.status != Status::incomplete && *droppedReason(reading.status) == '\0')
            std::abort();
        return 0;
    }
    if (!reading.url.isEmpty() && (!reading.url.isValid() || reading.url.scheme().isEmpty()))
        std::abort();
    const QByteArray encoded = encodedInstanceMessage(reading.url);
    if (encoded.size() > instanceMessageHeaderSize + maximumInstanceMessageSize)
        return 0;
    const InstanceMessageReading again = readInstanceMessage(encoded);
    if (again.status != Status::complete || encodedInstanceMessage(again.url) != encoded)
        std::abort();
    return 0;
}
