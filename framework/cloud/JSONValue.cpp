#include "cloud/JSONValue.h"

#include <QJsonArray>
#include <QJsonObject>

namespace tessvale {

JSONValue::JSONValue()
    : m_kind(Kind::null)
    , m_value(QJsonValue::Null)
{
}

JSONValue::JSONValue(Kind kind, const QJsonValue& value)
    : m_kind(kind)
    , m_value(value)
{
}

JSONValue JSONValue::string(const QString& text)
{
    return JSONValue(Kind::string, QJsonValue(text));
}

JSONValue JSONValue::number(double value)
{
    return JSONValue(Kind::number, QJsonValue(value));
}

JSONValue JSONValue::boolean(bool value)
{
    return JSONValue(Kind::boolean, QJsonValue(value));
}

JSONValue JSONValue::object(const QMap<QString, JSONValue>& members)
{
    QJsonObject object;
    for (auto it = members.cbegin(); it != members.cend(); ++it)
        object.insert(it.key(), it.value().m_value);
    return JSONValue(Kind::object, object);
}

JSONValue JSONValue::array(const QList<JSONValue>& elements)
{
    QJsonArray array;
    for (const JSONValue& element : elements)
        array.append(element.m_value);
    return JSONValue(Kind::array, array);
}

JSONValue JSONValue::null()
{
    return JSONValue();
}

JSONValue JSONValue::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    // The value is held as parsed; nested members are validated lazily by the typed readers, and
    // parsing already bounded the depth.
    switch (value.type()) {
    case QJsonValue::Null:
        return null();
    case QJsonValue::String:
        return JSONValue(Kind::string, value);
    case QJsonValue::Bool:
        return JSONValue(Kind::boolean, value);
    case QJsonValue::Double:
        return JSONValue(Kind::number, QJsonValue(value.toDouble()));
    case QJsonValue::Object:
        return JSONValue(Kind::object, value);
    case QJsonValue::Array:
        return JSONValue(Kind::array, value);
    case QJsonValue::Undefined:
        break;
    }
    throw DecodingError::dataCorrupted(decoder.codingPath(), QStringLiteral("Unsupported JSON value"));
}

QJsonValue JSONValue::toJSON() const
{
    return m_value;
}

std::optional<QString> JSONValue::stringValue() const
{
    if (m_kind != Kind::string)
        return std::nullopt;
    return m_value.toString();
}

std::optional<QMap<QString, JSONValue>> JSONValue::objectValue() const
{
    if (m_kind != Kind::object)
        return std::nullopt;
    QMap<QString, JSONValue> members;
    const QJsonObject object = m_value.toObject();
    const WireDecoder decoder(QString {});
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        members.insert(it.key(), decode(it.value(), decoder));
    return members;
}

std::optional<QList<JSONValue>> JSONValue::arrayValue() const
{
    if (m_kind != Kind::array)
        return std::nullopt;
    QList<JSONValue> elements;
    const QJsonArray array = m_value.toArray();
    const WireDecoder decoder(QString {});
    for (const auto& element : array)
        elements.append(decode(element, decoder));
    return elements;
}

std::optional<double> JSONValue::numberValue() const
{
    if (m_kind != Kind::number)
        return std::nullopt;
    return m_value.toDouble();
}

std::optional<bool> JSONValue::boolValue() const
{
    if (m_kind != Kind::boolean)
        return std::nullopt;
    return m_value.toBool();
}

bool JSONValue::operator==(const JSONValue& other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case Kind::string:
        return m_value.toString() == other.m_value.toString();
    case Kind::number:
        return m_value.toDouble() == other.m_value.toDouble();
    case Kind::boolean:
        return m_value.toBool() == other.m_value.toBool();
    case Kind::null:
        return true;
    case Kind::object: {
        const auto mine = objectValue();
        const auto theirs = other.objectValue();
        if (mine->size() != theirs->size())
            return false;
        for (auto it = mine->cbegin(); it != mine->cend(); ++it) {
            const auto found = theirs->constFind(it.key());
            if (found == theirs->cend() || !(it.value() == found.value()))
                return false;
        }
        return true;
    }
    case Kind::array:
        return arrayValue() == other.arrayValue();
    }
    return false;
}

} // namespace tessvale
