#include "cloud/ClientStreamMessage.h"

#include <QJsonArray>

#include "cloud/WireDecoding.h"

namespace tessvale {

ClientStreamMessage::ClientStreamMessage(Case messageCase)
    : m_case(messageCase)
{
}

ClientStreamMessage ClientStreamMessage::startSession(const StartSessionPayload& payload)
{
    ClientStreamMessage message(Case::startSession);
    message.m_start = payload;
    return message;
}

ClientStreamMessage ClientStreamMessage::audioChunk(qint64 sequence, const QString& dataBase64)
{
    ClientStreamMessage message(Case::audioChunk);
    message.m_sequence = sequence;
    message.m_text = dataBase64;
    return message;
}

ClientStreamMessage ClientStreamMessage::ping(const QString& text)
{
    ClientStreamMessage message(Case::ping);
    message.m_text = text;
    return message;
}

ClientStreamMessage ClientStreamMessage::stopSession()
{
    return ClientStreamMessage(Case::stopSession);
}

ClientStreamMessage ClientStreamMessage::cancelSession()
{
    return ClientStreamMessage(Case::cancelSession);
}

QString ClientStreamMessage::wireCaseName() const
{
    switch (m_case) {
    case Case::startSession:
        return QStringLiteral("StartSession");
    case Case::audioChunk:
        return QStringLiteral("AudioChunk");
    case Case::ping:
        return QStringLiteral("Ping");
    case Case::stopSession:
        return QStringLiteral("StopSession");
    case Case::cancelSession:
        return QStringLiteral("CancelSession");
    }
    return {};
}

QJsonObject ClientStreamMessage::toJSON() const
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("Case"), wireCaseName());
    switch (m_case) {
    case Case::startSession: {
        const StartSessionPayload& start = *m_start;
        QJsonObject payload;
        payload.insert(QStringLiteral("SessionId"), lowercaseUUIDText(start.sessionID));
        payload.insert(QStringLiteral("DeviceId"), lowercaseUUIDText(start.deviceID));
        payload.insert(QStringLiteral("AppVersion"), start.appVersion);
        payload.insert(QStringLiteral("FocusApp"), start.focusApp ? QJsonValue(*start.focusApp) : QJsonValue());
        envelope.insert(QStringLiteral("Fields"), QJsonArray { payload });
        break;
    }
    case Case::audioChunk: {
        QJsonObject payload;
        payload.insert(QStringLiteral("Sequence"), double(m_sequence));
        payload.insert(QStringLiteral("DataBase64"), m_text);
        envelope.insert(QStringLiteral("Fields"), QJsonArray { payload });
        break;
    }
    case Case::ping:
        envelope.insert(QStringLiteral("Fields"), QJsonArray { m_text });
        break;
    case Case::stopSession:
    case Case::cancelSession:
        break;
    }
    return envelope;
}

QByteArray ClientStreamMessage::encoded() const
{
    return encodeWireJSON(toJSON());
}

} // namespace tessvale
