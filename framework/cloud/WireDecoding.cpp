#include "cloud/WireDecoding.h"

#include <cmath>
#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace tessvale {

namespace {

QString jsonTypeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("a dictionary");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("no value");
}

// Null is valueNotFound, every other wrong type typeMismatch, as the service's clients expect.
[[noreturn]] void throwWrongType(const QJsonValue& value, const WireDecoder& decoder, const char* expected)
{
    if (value.isNull() || value.isUndefined()) {
        throw DecodingError::valueNotFound(decoder.codingPath(),
            QStringLiteral("Expected %1 value but found null instead.").arg(QLatin1String(expected)));
    }
    throw DecodingError::typeMismatch(decoder.codingPath(),
        QStringLiteral("Expected to decode %1 but found %2 instead.")
            .arg(QLatin1String(expected), jsonTypeName(value)));
}

// Nesting depth of the text, counted without parsing so that hostile input costs no allocation.
bool nestingWithin(const QByteArray& data, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : data) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > limit)
                return false;
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return true;
}

bool isHex(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

} // namespace

WireDecoder::WireDecoder()
    : m_trustedServiceDomain(CloudEndpoints::configured().serviceDomain)
{
}

WireDecoder::WireDecoder(const QString& trustedServiceDomain, const CodingPath& codingPath)
    : m_trustedServiceDomain(trustedServiceDomain.toLower())
    , m_codingPath(codingPath)
{
}

WireDecoder::WireDecoder(const CloudEndpoints& endpoints)
    : m_trustedServiceDomain(endpoints.serviceDomain.toLower())
{
}

WireDecoder WireDecoder::nested(const QString& key) const
{
    WireDecoder child = *this;
    child.m_codingPath.append(key);
    return child;
}

WireDecoder WireDecoder::nested(int index) const
{
    return nested(QString::number(index));
}

KeyedDecodingContainer::KeyedDecodingContainer(const QJsonValue& value, const WireDecoder& decoder)
    : m_decoder(decoder)
{
    if (!value.isObject()) {
        if (value.isNull() || value.isUndefined()) {
            throw DecodingError::valueNotFound(decoder.codingPath(),
                QStringLiteral("Cannot get keyed decoding container -- found null value instead."));
        }
        throwWrongType(value, decoder, "Dictionary<String, Any>");
    }
    m_object = value.toObject();
}

bool KeyedDecodingContainer::contains(const AnyCodingKey& key) const
{
    return m_object.contains(key.stringValue);
}

QJsonValue KeyedDecodingContainer::value(const AnyCodingKey& key) const
{
    return m_object.value(key.stringValue);
}

WireDecoder KeyedDecodingContainer::decoderForKey(const AnyCodingKey& key) const
{
    return m_decoder.nested(key.stringValue);
}

std::optional<QString> KeyedDecodingContainer::firstPresentKey(const QStringList& keys) const
{
    for (const QString& key : keys) {
        if (m_object.contains(key))
            return key;
    }
    return std::nullopt;
}

QString KeyedDecodingContainer::requireFirstPresentKey(const QStringList& keys) const
{
    if (const std::optional<QString> key = firstPresentKey(keys))
        return *key;
    throw DecodingError::keyNotFound(
        keys.value(0), codingPath(), QStringLiteral("Missing required keys: ") + keys.join(QStringLiteral(", ")));
}

template <> QString decodeWireValue<QString>(const QJsonValue& value, const WireDecoder& decoder)
{
    if (!value.isString())
        throwWrongType(value, decoder, "String");
    return value.toString();
}

template <> qint64 decodeWireValue<qint64>(const QJsonValue& value, const WireDecoder& decoder)
{
    if (!value.isDouble())
        throwWrongType(value, decoder, "Int");
    // toInteger falls back to its argument when the number is not integral or out of range.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second) {
        throw DecodingError::dataCorrupted(
            decoder.codingPath(), QStringLiteral("Parsed JSON number <%1> does not fit in Int.").arg(value.toDouble()));
    }
    return first;
}

template <> bool decodeWireValue<bool>(const QJsonValue& value, const WireDecoder& decoder)
{
    if (!value.isBool())
        throwWrongType(value, decoder, "Bool");
    return value.toBool();
}

template <> double decodeWireValue<double>(const QJsonValue& value, const WireDecoder& decoder)
{
    if (!value.isDouble())
        throwWrongType(value, decoder, "Double");
    const double number = value.toDouble();
    if (!std::isfinite(number)) {
        throw DecodingError::dataCorrupted(
            decoder.codingPath(), QStringLiteral("Parsed JSON number does not fit in Double."));
    }
    return number;
}

template <> QUuid decodeWireValue<QUuid>(const QJsonValue& value, const WireDecoder& decoder)
{
    const QString text = decodeWireValue<QString>(value, decoder);
    if (const std::optional<QUuid> uuid = uuidFromCanonicalText(text))
        return *uuid;
    throw DecodingError::dataCorrupted(
        decoder.codingPath(), QStringLiteral("Attempted to decode UUID from invalid UUID string."));
}

template <> QUrl decodeWireValue<QUrl>(const QJsonValue& value, const WireDecoder& decoder)
{
    const QString text = decodeWireValue<QString>(value, decoder);
    QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        throw DecodingError::dataCorrupted(decoder.codingPath(), QStringLiteral("Invalid URL string."));
    return url;
}

QJsonValue parseWireJSON(const QByteArray& data)
{
    if (data.size() > kMaxWireMessageBytes) {
        throw DecodingError::dataCorrupted(
            {}, QStringLiteral("The given data was not valid JSON: larger than %1 bytes.").arg(kMaxWireMessageBytes));
    }
    if (!nestingWithin(data, kMaxWireNestingDepth)) {
        throw DecodingError::dataCorrupted({},
            QStringLiteral("The given data was not valid JSON: nested deeper than %1 levels.")
                .arg(kMaxWireNestingDepth));
    }
    if (!data.isValidUtf8())
        throw DecodingError::dataCorrupted({}, QStringLiteral("The given data was not valid JSON: invalid UTF-8."));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        throw DecodingError::dataCorrupted({},
            QStringLiteral("The given data was not valid JSON: %1 at offset %2.")
                .arg(error.errorString())
                .arg(error.offset));
    }
    if (document.isArray())
        return document.array();
    return document.object();
}

QByteArray encodeWireJSON(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString lowercaseUUIDText(const QUuid& uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toLower();
}

std::optional<QUuid> uuidFromCanonicalText(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphenPosition = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPosition ? text[i] != QLatin1Char('-') : !isHex(text[i]))
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

} // namespace tessvale
