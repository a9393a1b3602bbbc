// Feeds arbitrary bytes to the decoder of the service's streaming frames. Decoding may fail only
// with the two documented error types; anything else (a crash, another exception, a leak, a hang)
// is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "cloud/CloudClientError.h"
#include "cloud/DecodingError.h"
#include "cloud/FSharpUnionCase.h"
#include "cloud/ServerStreamMessage.h"

using namespace tessvale;

namespace {

void checkDecodedMessage(const ServerStreamMessage& message)
{
    using Case = ServerStreamMessage::Case;
    switch (message.messageCase()) {
    case Case::sessionStarted:
    case Case::sessionCompleted:
        if (!message.sessionID())
            std::abort();
        break;
    case Case::sessionError:
    case Case::pong:
        if (!message.text())
            std::abort();
        break;
    case Case::sessionStateChanged:
        if (!message.sessionStateChangedPayload())
            std::abort();
        (void)message.sessionStateChangedPayload()->decodedState();
        break;
    case Case::partialTranscript:
        if (!message.partialTranscriptPayload())
            std::abort();
        break;
    case Case::finalTranscript:
        if (!message.finalTranscriptPayload())
            std::abort();
        break;
    case Case::transcriptCommitted:
        if (!message.transcriptCommittedPayload())
            std::abort();
        break;
    case Case::usageSnapshot:
        if (!message.usageSnapshotPayload())
            std::abort();
        break;
    }
}

// Every field of a decoded envelope survives a trip through its JSON form unchanged.
void checkEnvelopeRoundTrip(const QByteArray& bytes)
{
    try {
        const WireDecoder decoder { QString() };
        const FSharpUnionCase envelope = FSharpUnionCase::decode(parseWireJSON(bytes), decoder);
        const FSharpUnionCase again = FSharpUnionCase::decode(envelope.toJSON(), decoder);
        if (again.Case != envelope.Case || again.Fields.has_value() != envelope.Fields.has_value())
            std::abort();
        if (envelope.Fields && !(*again.Fields == *envelope.Fields))
            std::abort();
    } catch (const DecodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        checkDecodedMessage(ServerStreamMessage::decode(bytes));
    } catch (const DecodingError& error) {
        (void)error.what();
    } catch (const CloudClientError& error) {
        if (error.errorCase() != CloudClientError::Case::invalidResponse)
            std::abort();
    }
    checkEnvelopeRoundTrip(bytes);
    return 0;
}
