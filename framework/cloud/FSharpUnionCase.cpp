#include "cloud/FSharpUnionCase.h"

#include <QJsonArray>

namespace tessvale {

namespace {
const QString caseKey = QStringLiteral("Case");
const QString fieldsKey = QStringLiteral("Fields");
} // namespace

FSharpUnionCase::FSharpUnionCase(const QString& caseName, std::optional<QList<JSONValue>> fields)
    : Case(caseName)
    , Fields(std::move(fields))
{
}

FSharpUnionCase FSharpUnionCase::decode(const QJsonValue& value, const WireDecoder& decoder)
{
    const KeyedDecodingContainer container(value, decoder);
    const AnyCodingKey caseCodingKey(caseKey);
    if (!container.contains(caseCodingKey)) {
        throw DecodingError::keyNotFound(
            caseKey, decoder.codingPath(), QStringLiteral("No value associated with key \"Case\"."));
    }
    FSharpUnionCase envelope;
    envelope.Case = decodeWireValue<QString>(container.value(caseCodingKey), container.decoderForKey(caseCodingKey));

    const AnyCodingKey fieldsCodingKey(fieldsKey);
    const QJsonValue fields = container.value(fieldsCodingKey);
    if (fields.isUndefined() || fields.isNull())
        return envelope;
    const WireDecoder fieldsDecoder = container.decoderForKey(fieldsCodingKey);
    if (!fields.isArray()) {
        throw DecodingError::typeMismatch(fieldsDecoder.codingPath(),
            QStringLiteral("Expected to decode Array<Any> but found another value instead."));
    }
    const QJsonArray array = fields.toArray();
    QList<JSONValue> list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        list.append(JSONValue::decode(array.at(i), fieldsDecoder.nested(int(i))));
    envelope.Fields = std::move(list);
    return envelope;
}

QJsonObject FSharpUnionCase::toJSON() const
{
    QJsonObject object;
    object.insert(caseKey, Case);
    if (Fields) {
        QJsonArray array;
        for (const JSONValue& field : *Fields)
            array.append(field.toJSON());
        object.insert(fieldsKey, array);
    }
    return object;
}

} // namespace tessvale
