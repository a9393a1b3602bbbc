#pragma once

#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include "cloud/AnyCodingKey.h"
#include "cloud/CloudEndpoints.h"
#include "cloud/DecodingError.h"

// Reading the service's JSON: every decoder takes the JSON value and a WireDecoder (where in the
// document it is, which domain service-supplied URLs must belong to) and either returns a complete
// value or throws DecodingError. Nothing is partially filled in.

namespace tessvale {

// Frames and bodies larger than this are refused before they are parsed.
inline constexpr qsizetype kMaxWireMessageBytes = 1024 * 1024;
// JSON deeper than this is refused; the service never nests more than a handful of levels.
inline constexpr int kMaxWireNestingDepth = 64;

class WireDecoder
{
public:
    // Trusts the domain of CloudEndpoints::configured().
    WireDecoder();
    explicit WireDecoder(const QString& trustedServiceDomain, const CodingPath& codingPath = {});
    explicit WireDecoder(const CloudEndpoints& endpoints);

    const CodingPath& codingPath() const { return m_codingPath; }
    const QString& trustedServiceDomain() const { return m_trustedServiceDomain; }

    // The decoder of a member or element below this one.
    WireDecoder nested(const QString& key) const;
    WireDecoder nested(int index) const;

private:
    QString m_trustedServiceDomain;
    CodingPath m_codingPath;
};

// An object read with string keys. Building one from a value that is not an object throws
// (typeMismatch, or valueNotFound for null).
class KeyedDecodingContainer
{
public:
    KeyedDecodingContainer(const QJsonValue& value, const WireDecoder& decoder);

    bool contains(const AnyCodingKey& key) const;
    QJsonValue value(const AnyCodingKey& key) const;
    const QJsonObject& object() const { return m_object; }
    const WireDecoder& decoder() const { return m_decoder; }
    const CodingPath& codingPath() const { return m_decoder.codingPath(); }
    WireDecoder decoderForKey(const AnyCodingKey& key) const;

    // The first of keys that the object holds (whatever its value, null included).
    std::optional<QString> firstPresentKey(const QStringList& keys) const;
    // As firstPresentKey, but throws keyNotFound "Missing required keys: A, b" when none is present.
    QString requireFirstPresentKey(const QStringList& keys) const;

private:
    QJsonObject m_object;
    WireDecoder m_decoder;
};

// Decodes one JSON value as T. Records provide `static T decode(const QJsonValue&, const WireDecoder&)`;
// the primitive types below are specialised (QString, qint64, bool, double, QUuid from its
// 36-character text, QUrl from a string).
template <typename T> T decodeWireValue(const QJsonValue& value, const WireDecoder& decoder)
{
    return T::decode(value, decoder);
}

template <> QString decodeWireValue<QString>(const QJsonValue& value, const WireDecoder& decoder);
template <> qint64 decodeWireValue<qint64>(const QJsonValue& value, const WireDecoder& decoder);
template <> bool decodeWireValue<bool>(const QJsonValue& value, const WireDecoder& decoder);
template <> double decodeWireValue<double>(const QJsonValue& value, const WireDecoder& decoder);
template <> QUuid decodeWireValue<QUuid>(const QJsonValue& value, const WireDecoder& decoder);
template <> QUrl decodeWireValue<QUrl>(const QJsonValue& value, const WireDecoder& decoder);

// Reads the member under the first of keys that is present (PascalCase spelling first, camelCase
// second). The first present key decides, even when its value is null or of the wrong type.
template <typename T> T decodeFirstPresent(const KeyedDecodingContainer& container, const QStringList& keys)
{
    const QString key = container.requireFirstPresentKey(keys);
    const AnyCodingKey codingKey(key);
    return decodeWireValue<T>(container.value(codingKey), container.decoderForKey(codingKey));
}

// As decodeFirstPresent, but absent when no key is present or the deciding member is null.
template <typename T>
std::optional<T> decodeFirstPresentIfPresent(const KeyedDecodingContainer& container, const QStringList& keys)
{
    const std::optional<QString> key = container.firstPresentKey(keys);
    if (!key)
        return std::nullopt;
    const AnyCodingKey codingKey(*key);
    const QJsonValue value = container.value(codingKey);
    if (value.isNull())
        return std::nullopt;
    return decodeWireValue<T>(value, container.decoderForKey(codingKey));
}

// Parses a received frame or body: refuses more than kMaxWireMessageBytes, invalid UTF-8, text that
// is not JSON and nesting deeper than kMaxWireNestingDepth, all as dataCorrupted.
QJsonValue parseWireJSON(const QByteArray& data);

// Parses data and decodes it as T.
template <typename T> T decodeWireJSON(const QByteArray& data, const WireDecoder& decoder = WireDecoder())
{
    return decodeWireValue<T>(parseWireJSON(data), decoder);
}

// Compact UTF-8 JSON text of an object, as every request and client frame is written.
QByteArray encodeWireJSON(const QJsonObject& object);

// The 36-character hyphenated form in lower case.
QString lowercaseUUIDText(const QUuid& uuid);
// Parses exactly the 36-character hyphenated form (either letter case); null for anything else.
std::optional<QUuid> uuidFromCanonicalText(const QString& text);

} // namespace tessvale
