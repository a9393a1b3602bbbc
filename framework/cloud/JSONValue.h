#pragma once

#include <optional>

#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>

#include "cloud/WireDecoding.h"

namespace tessvale {

// An untyped JSON value: the element type of an envelope's "Fields". Integers have no case of
// their own; every number is a double.
class JSONValue
{
public:
    // `boolean` stands for the bool case (a C++ keyword).
    enum class Kind {
        string,
        number,
        boolean,
        object,
        array,
        null,
    };

    JSONValue(); // null
    static JSONValue string(const QString& text);
    static JSONValue number(double value);
    static JSONValue boolean(bool value);
    static JSONValue object(const QMap<QString, JSONValue>& members);
    static JSONValue array(const QList<JSONValue>& elements);
    static JSONValue null();

    // Fails with dataCorrupted "Unsupported JSON value" for anything that is not a JSON value.
    static JSONValue decode(const QJsonValue& value, const WireDecoder& decoder);
    QJsonValue toJSON() const;

    Kind kind() const { return m_kind; }
    std::optional<QString> stringValue() const;
    std::optional<QMap<QString, JSONValue>> objectValue() const;
    std::optional<QList<JSONValue>> arrayValue() const;
    std::optional<double> numberValue() const;
    std::optional<bool> boolValue() const;

    // Turns the value into T by that type's own decoding rules, as if it had been written as JSON
    // and read back; the decoding error propagates unchanged.
    template <typename T> T decode(const WireDecoder& decoder = WireDecoder()) const
    {
        return decodeWireValue<T>(m_value, decoder);
    }

    // Structural; a NaN number equals nothing, itself included.
    bool operator==(const JSONValue& other) const;

private:
    JSONValue(Kind kind, const QJsonValue& value);

    Kind m_kind = Kind::null;
    QJsonValue m_value;
};

} // namespace tessvale
