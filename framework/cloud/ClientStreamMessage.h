#pragma once

#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

namespace tessvale {

// The first frame of a dictation session.
struct StartSessionPayload
{
    QUuid sessionID;
    QUuid deviceID;
    QString appVersion;
    // The application that had focus when dictation began; absent when unknown (written as null).
    std::optional<QString> focusApp;

    bool operator==(const StartSessionPayload& other) const = default;
};

// A frame the client sends over the streaming connection, written as one envelope.
class ClientStreamMessage
{
public:
    enum class Case {
        startSession,
        audioChunk,
        ping,
        stopSession,
        cancelSession,
    };

    static ClientStreamMessage startSession(const StartSessionPayload& payload);
    // dataBase64 is passed through unchanged (standard Base64 of the chunk's PCM bytes).
    static ClientStreamMessage audioChunk(qint64 sequence, const QString& dataBase64);
    static ClientStreamMessage ping(const QString& text);
    static ClientStreamMessage stopSession();
    static ClientStreamMessage cancelSession();

    Case messageCase() const { return m_case; }
    // The wire name: "StartSession", "AudioChunk", "Ping", "StopSession", "CancelSession".
    QString wireCaseName() const;

    // Payload of startSession; absent for the other cases.
    const std::optional<StartSessionPayload>& startSessionPayload() const { return m_start; }
    // sequence and dataBase64 of audioChunk.
    qint64 sequence() const { return m_sequence; }
    // dataBase64 of audioChunk, or the text of ping.
    const QString& text() const { return m_text; }

    // The envelope: "Fields" holds one object (start, audio chunk) or one string (ping), and is
    // left out for stop and cancel. Member names are PascalCase; identifiers lower-case.
    QJsonObject toJSON() const;
    // UTF-8 compact JSON text of toJSON(): the bytes of one text frame.
    QByteArray encoded() const;

    bool operator==(const ClientStreamMessage& other) const = default;

private:
    explicit ClientStreamMessage(Case messageCase);

    Case m_case;
    std::optional<StartSessionPayload> m_start;
    qint64 m_sequence = 0;
    QString m_text;
};

} // namespace tessvale
