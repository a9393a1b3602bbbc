#include "cloud/ServerStreamMessage.h"

#include "cloud/CloudClientError.h"

namespace tessvale {

namespace {

const QStringList sessionIdKeys { QStringLiteral("SessionId"), QStringLiteral("sessionId") };

// A UUID field of a frame; the text may use either letter case.
std::optional<QUuid> uuidField(const JSONValue* field)
{
    if (!field)
        return std::nullopt;
    const std::optional<QString> text = field->stringValue();
    return text ? uuidFromCanonicalText(*text) : std::nullopt;
}

[[noreturn]] void throwMissing(const char* what)
{
    throw CloudClientError::invalidResponse(QString::fromLatin1(what));
}

} // namespace

std::optional<DictationSessionState> SessionStateChangedPayload::decodedState() const
{
    return dictationSessionStateFromRawValue(state.Case);
}

SessionStateChangedPayload SessionStateChangedPayload::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    SessionStateChangedPayload payload;
    payload.sessionID = decodeFirstPresent<QUuid>(container, sessionIdKeys);
    payload.state
        = decodeFirstPresent<FSharpUnionCase>(container, { QStringLiteral("State"), QStringLiteral("state") });
    payload.detail
        = decodeFirstPresentIfPresent<QString>(container, { QStringLiteral("Detail"), QStringLiteral("detail") });
    return payload;
}

PartialTranscriptPayload PartialTranscriptPayload::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    PartialTranscriptPayload payload;
    payload.sessionID = decodeFirstPresent<QUuid>(container, sessionIdKeys);
    payload.text = decodeFirstPresent<QString>(container, { QStringLiteral("Text"), QStringLiteral("text") });
    return payload;
}

FinalTranscriptPayload FinalTranscriptPayload::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    FinalTranscriptPayload payload;
    payload.sessionID = decodeFirstPresent<QUuid>(container, sessionIdKeys);
    payload.rawText = decodeFirstPresent<QString>(container, { QStringLiteral("RawText"), QStringLiteral("rawText") });
    payload.finalText
        = decodeFirstPresent<QString>(container, { QStringLiteral("FinalText"), QStringLiteral("finalText") });
    return payload;
}

TranscriptCommittedPayload TranscriptCommittedPayload::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    TranscriptCommittedPayload payload;
    payload.sessionID = decodeFirstPresent<QUuid>(container, sessionIdKeys);
    payload.finalText
        = decodeFirstPresent<QString>(container, { QStringLiteral("FinalText"), QStringLiteral("finalText") });
    return payload;
}

UsageSnapshotPayload UsageSnapshotPayload::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    UsageSnapshotPayload payload;
    payload.sessionID = decodeFirstPresentIfPresent<QUuid>(container, sessionIdKeys);
    payload.usedMinutesThisPeriod = decodeFirstPresent<double>(
        container, { QStringLiteral("UsedMinutesThisPeriod"), QStringLiteral("usedMinutesThisPeriod") });
    return payload;
}

ServerStreamMessage::ServerStreamMessage(Case messageCase, Value value)
    : m_case(messageCase)
    , m_value(std::move(value))
{
}

ServerStreamMessage ServerStreamMessage::sessionStarted(const QUuid& sessionID)
{
    return ServerStreamMessage(Case::sessionStarted, sessionID);
}

ServerStreamMessage ServerStreamMessage::sessionStateChanged(const SessionStateChangedPayload& payload)
{
    return ServerStreamMessage(Case::sessionStateChanged, payload);
}

ServerStreamMessage ServerStreamMessage::partialTranscript(const PartialTranscriptPayload& payload)
{
    return ServerStreamMessage(Case::partialTranscript, payload);
}

ServerStreamMessage ServerStreamMessage::finalTranscript(const FinalTranscriptPayload& payload)
{
    return ServerStreamMessage(Case::finalTranscript, payload);
}

ServerStreamMessage ServerStreamMessage::transcriptCommitted(const TranscriptCommittedPayload& payload)
{
    return ServerStreamMessage(Case::transcriptCommitted, payload);
}

ServerStreamMessage ServerStreamMessage::usageSnapshot(const UsageSnapshotPayload& payload)
{
    return ServerStreamMessage(Case::usageSnapshot, payload);
}

ServerStreamMessage ServerStreamMessage::sessionError(const QString& message)
{
    return ServerStreamMessage(Case::sessionError, message);
}

ServerStreamMessage ServerStreamMessage::sessionCompleted(const QUuid& sessionID)
{
    return ServerStreamMessage(Case::sessionCompleted, sessionID);
}

ServerStreamMessage ServerStreamMessage::pong(const QString& value)
{
    return ServerStreamMessage(Case::pong, value);
}

ServerStreamMessage ServerStreamMessage::decode(const QByteArray& data)
{
    const WireDecoder decoder { QString {} };
    const FSharpUnionCase envelope = FSharpUnionCase::decode(parseWireJSON(data), decoder);
    // Only the first field is ever used.
    const JSONValue* first = envelope.Fields && !envelope.Fields->isEmpty() ? &envelope.Fields->first() : nullptr;
    const QString& name = envelope.Case;

    if (name == QLatin1String("SessionStarted")) {
        if (const std::optional<QUuid> id = uuidField(first))
            return sessionStarted(*id);
        throwMissing("SessionStarted did not include a UUID.");
    }
    if (name == QLatin1String("SessionStateChanged")) {
        if (!first)
            throwMissing("SessionStateChanged did not include a payload.");
        return sessionStateChanged(first->decode<SessionStateChangedPayload>(decoder));
    }
    if (name == QLatin1String("PartialTranscript")) {
        if (!first)
            throwMissing("PartialTranscript did not include a payload.");
        return partialTranscript(first->decode<PartialTranscriptPayload>(decoder));
    }
    if (name == QLatin1String("FinalTranscript")) {
        if (!first)
            throwMissing("FinalTranscript did not include a payload.");
        return finalTranscript(first->decode<FinalTranscriptPayload>(decoder));
    }
    if (name == QLatin1String("TranscriptCommitted")) {
        if (!first)
            throwMissing("TranscriptCommitted did not include a payload.");
        return transcriptCommitted(first->decode<TranscriptCommittedPayload>(decoder));
    }
    if (name == QLatin1String("UsageSnapshot")) {
        if (!first)
            throwMissing("UsageSnapshot did not include a payload.");
        return usageSnapshot(first->decode<UsageSnapshotPayload>(decoder));
    }
    if (name == QLatin1String("SessionError")) {
        if (const std::optional<QString> text = first ? first->stringValue() : std::nullopt)
            return sessionError(*text);
        throwMissing("SessionError did not include a message.");
    }
    if (name == QLatin1String("SessionCompleted")) {
        if (const std::optional<QUuid> id = uuidField(first))
            return sessionCompleted(*id);
        throwMissing("SessionCompleted did not include a UUID.");
    }
    if (name == QLatin1String("Pong")) {
        if (const std::optional<QString> text = first ? first->stringValue() : std::nullopt)
            return pong(*text);
        throwMissing("Pong did not include a value.");
    }
    throw CloudClientError::invalidResponse(QStringLiteral("Unsupported websocket message: ") + name);
}

std::optional<QUuid> ServerStreamMessage::sessionID() const
{
    if (m_case != Case::sessionStarted && m_case != Case::sessionCompleted)
        return std::nullopt;
    return std::get<QUuid>(m_value);
}

std::optional<QString> ServerStreamMessage::text() const
{
    if (m_case != Case::sessionError && m_case != Case::pong)
        return std::nullopt;
    return std::get<QString>(m_value);
}

const SessionStateChangedPayload* ServerStreamMessage::sessionStateChangedPayload() const
{
    return std::get_if<SessionStateChangedPayload>(&m_value);
}

const PartialTranscriptPayload* ServerStreamMessage::partialTranscriptPayload() const
{
    return std::get_if<PartialTranscriptPayload>(&m_value);
}

const FinalTranscriptPayload* ServerStreamMessage::finalTranscriptPayload() const
{
    return std::get_if<FinalTranscriptPayload>(&m_value);
}

const TranscriptCommittedPayload* ServerStreamMessage::transcriptCommittedPayload() const
{
    return std::get_if<TranscriptCommittedPayload>(&m_value);
}

const UsageSnapshotPayload* ServerStreamMessage::usageSnapshotPayload() const
{
    return std::get_if<UsageSnapshotPayload>(&m_value);
}

} // namespace tessvale
