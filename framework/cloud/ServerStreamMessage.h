#pragma once

#include <optional>
#include <variant>

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include "cloud/DictationSessionState.h"
#include "cloud/FSharpUnionCase.h"
#include "cloud/WireDecoding.h"

namespace tessvale {

// Payload records of the service's frames. Each member is read PascalCase first, camelCase second;
// members not listed are ignored; the first failing member ends the decoding.

struct SessionStateChangedPayload
{
    QUuid sessionID;
    // The state envelope as received; its "Fields" are kept but not interpreted.
    FSharpUnionCase state;
    std::optional<QString> detail;

    // The state named by state.Case, absent for a name the client does not know.
    std::optional<DictationSessionState> decodedState() const;

    static SessionStateChangedPayload decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct PartialTranscriptPayload
{
    QUuid sessionID;
    QString text;

    bool operator==(const PartialTranscriptPayload& other) const = default;
    static PartialTranscriptPayload decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct FinalTranscriptPayload
{
    QUuid sessionID;
    QString rawText;
    QString finalText;

    bool operator==(const FinalTranscriptPayload& other) const = default;
    static FinalTranscriptPayload decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct TranscriptCommittedPayload
{
    QUuid sessionID;
    QString finalText;

    bool operator==(const TranscriptCommittedPayload& other) const = default;
    static TranscriptCommittedPayload decode(const QJsonValue& value, const WireDecoder& decoder);
};

struct UsageSnapshotPayload
{
    std::optional<QUuid> sessionID;
    double usedMinutesThisPeriod = 0;

    bool operator==(const UsageSnapshotPayload& other) const = default;
    static UsageSnapshotPayload decode(const QJsonValue& value, const WireDecoder& decoder);
};

// A frame the service sends over the streaming connection.
class ServerStreamMessage
{
public:
    enum class Case {
        sessionStarted,
        sessionStateChanged,
        partialTranscript,
        finalTranscript,
        transcriptCommitted,
        usageSnapshot,
        sessionError,
        sessionCompleted,
        pong,
    };

    static ServerStreamMessage sessionStarted(const QUuid& sessionID);
    static ServerStreamMessage sessionStateChanged(const SessionStateChangedPayload& payload);
    static ServerStreamMessage partialTranscript(const PartialTranscriptPayload& payload);
    static ServerStreamMessage finalTranscript(const FinalTranscriptPayload& payload);
    static ServerStreamMessage transcriptCommitted(const TranscriptCommittedPayload& payload);
    static ServerStreamMessage usageSnapshot(const UsageSnapshotPayload& payload);
    static ServerStreamMessage sessionError(const QString& message);
    static ServerStreamMessage sessionCompleted(const QUuid& sessionID);
    static ServerStreamMessage pong(const QString& value);

    // One received frame to one complete message. Throws DecodingError for bytes that are not an
    // envelope or a payload that does not fit its record, and CloudClientError::invalidResponse
    // for a known case without its field ("... did not include ...") or an unknown case
    // ("Unsupported websocket message: <case>"). Frames over kMaxWireMessageBytes are refused.
    static ServerStreamMessage decode(const QByteArray& data);

    Case messageCase() const { return m_case; }

    // The identifier of sessionStarted and sessionCompleted.
    std::optional<QUuid> sessionID() const;
    // The message of sessionError, or the value of pong.
    std::optional<QString> text() const;
    const SessionStateChangedPayload* sessionStateChangedPayload() const;
    const PartialTranscriptPayload* partialTranscriptPayload() const;
    const FinalTranscriptPayload* finalTranscriptPayload() const;
    const TranscriptCommittedPayload* transcriptCommittedPayload() const;
    const UsageSnapshotPayload* usageSnapshotPayload() const;

private:
    using Value = std::variant<QUuid, QString, SessionStateChangedPayload, PartialTranscriptPayload,
        FinalTranscriptPayload, TranscriptCommittedPayload, UsageSnapshotPayload>;

    ServerStreamMessage(Case messageCase, Value value);

    Case m_case;
    Value m_value;
};

} // namespace tessvale
