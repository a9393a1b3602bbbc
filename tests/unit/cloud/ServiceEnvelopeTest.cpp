#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <QJsonArray>
#include <QJsonObject>

#include "WireTestSupport.h"
#include "cloud/AnyCodingKey.h"
#include "cloud/CloudEndpoints.h"
#include "cloud/DevicePlatform.h"
#include "cloud/FSharpUnionCase.h"
#include "cloud/JSONValue.h"
#include "cloud/ServiceURLTrust.h"
#include "cloud/WireDecoding.h"

using namespace tessvale;
using namespace tessvale::testing;
using Kind = DecodingError::Kind;

namespace {

const WireDecoder decoder { QStringLiteral("tessvale.test") };

// ---- the envelope

TEST(UnionEnvelope, BareCaseHasNoFields)
{
    for (const char* text : { R"({"Case":"StopSession"})", R"({"Case":"StopSession","Fields":null})" }) {
        const FSharpUnionCase envelope = FSharpUnionCase::decode(json(text), decoder);
        EXPECT_EQ(envelope.Case, QStringLiteral("StopSession"));
        EXPECT_FALSE(envelope.Fields.has_value()) << text;
    }
}

TEST(UnionEnvelope, FieldsKeepTheirJsonKinds)
{
    const FSharpUnionCase envelope
        = FSharpUnionCase::decode(json(R"({"Case":"X","Fields":["a",1,true,null,{},[]],"Other":5})"), decoder);
    ASSERT_TRUE(envelope.Fields);
    ASSERT_EQ(envelope.Fields->size(), 6);
    EXPECT_EQ(envelope.Fields->at(0), JSONValue::string(QStringLiteral("a")));
    EXPECT_EQ(envelope.Fields->at(1), JSONValue::number(1));
    EXPECT_EQ(envelope.Fields->at(2), JSONValue::boolean(true));
    EXPECT_EQ(envelope.Fields->at(3), JSONValue::null());
    EXPECT_EQ(envelope.Fields->at(4), JSONValue::object({}));
    EXPECT_EQ(envelope.Fields->at(5), JSONValue::array({}));
}

struct EnvelopeFailure
{
    const char* name;
    const char* text;
    Kind kind;
};

class UnionEnvelopeRejects : public ::testing::TestWithParam<EnvelopeFailure>
{
};

TEST_P(UnionEnvelopeRejects, Malformed)
{
    EXPECT_TRUE(
        failsWith([&] { FSharpUnionCase::decode(json(GetParam().text), decoder); }, decodingFailure(GetParam().kind)));
}

INSTANTIATE_TEST_SUITE_P(Shapes, UnionEnvelopeRejects,
    ::testing::Values(EnvelopeFailure { "NoCase", R"({"Fields":[]})", Kind::keyNotFound },
        EnvelopeFailure { "LowerCaseKey", R"({"case":"StopSession"})", Kind::keyNotFound },
        EnvelopeFailure { "CaseNotString", R"({"Case":5})", Kind::typeMismatch },
        EnvelopeFailure { "CaseNull", R"({"Case":null})", Kind::valueNotFound },
        EnvelopeFailure { "FieldsNotArray", R"({"Case":"X","Fields":{}})", Kind::typeMismatch },
        EnvelopeFailure { "PlainString", R"("StopSession")", Kind::typeMismatch },
        EnvelopeFailure { "Null", "null", Kind::valueNotFound }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(UnionEnvelope, EncodingLeavesOutAbsentFields)
{
    EXPECT_EQ(encodeWireJSON(FSharpUnionCase(QStringLiteral("StopSession")).toJSON()),
        QByteArray(R"({"Case":"StopSession"})"));
    EXPECT_EQ(encodeWireJSON(FSharpUnionCase(QStringLiteral("X"), QList<JSONValue> {}).toJSON()),
        QByteArray(R"({"Case":"X","Fields":[]})"));
    EXPECT_EQ(encodeWireJSON(
                  FSharpUnionCase(QStringLiteral("Ping"), QList { JSONValue::string(QStringLiteral("p")) }).toJSON()),
        QByteArray(R"({"Case":"Ping","Fields":["p"]})"));
}

// ---- JSON values

TEST(JsonValue, EachTokenTypeDecodesToItsOwnKind)
{
    EXPECT_EQ(JSONValue::decode(json("1"), decoder).kind(), JSONValue::Kind::number);
    EXPECT_EQ(JSONValue::decode(json("1"), decoder).numberValue(), 1.0);
    EXPECT_EQ(JSONValue::decode(json("true"), decoder).kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(JSONValue::decode(json("false"), decoder).kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(JSONValue::decode(json(R"("1")"), decoder).stringValue(), QStringLiteral("1"));
    EXPECT_EQ(JSONValue::decode(json("{}"), decoder).objectValue()->size(), 0);
    EXPECT_EQ(JSONValue::decode(json("[]"), decoder).arrayValue()->size(), 0);
    EXPECT_EQ(JSONValue::decode(json("null"), decoder).kind(), JSONValue::Kind::null);
}

TEST(JsonValue, UndefinedIsUnsupported)
{
    EXPECT_TRUE(failsWith([] { JSONValue::decode(QJsonValue(QJsonValue::Undefined), decoder); },
        decodingFailure(Kind::dataCorrupted, QStringLiteral("Unsupported JSON value"))));
}

TEST(JsonValue, AccessorsAreAbsentForOtherKinds)
{
    EXPECT_FALSE(JSONValue::number(1).stringValue());
    EXPECT_FALSE(JSONValue::string(QStringLiteral("x")).objectValue());
}

TEST(JsonValue, EqualityIsStructural)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(JSONValue::number(nan) == JSONValue::number(nan));
    EXPECT_EQ(JSONValue::decode(json(R"({"a":1,"b":[true,null]})"), decoder),
        JSONValue::decode(json(R"({"b":[true,null],"a":1})"), decoder));
    EXPECT_FALSE(
        JSONValue::decode(json(R"({"a":1})"), decoder) == JSONValue::decode(json(R"({"a":1,"b":2})"), decoder));
    EXPECT_FALSE(JSONValue::decode(json("[1,2]"), decoder) == JSONValue::decode(json("[2,1]"), decoder));
    EXPECT_FALSE(JSONValue::number(1) == JSONValue::boolean(true));
    EXPECT_FALSE(JSONValue::string(QStringLiteral("1")) == JSONValue::number(1));
    EXPECT_EQ(JSONValue::null(), JSONValue());
}

TEST(JsonValue, EncodesEachKindAsItsJsonForm)
{
    const JSONValue value
        = JSONValue::array({ JSONValue::string(QStringLiteral("s")), JSONValue::number(7), JSONValue::boolean(false),
            JSONValue::null(), JSONValue::object({ { QStringLiteral("k"), JSONValue::number(0.5) } }) });
    EXPECT_EQ(value.toJSON(), json(R"(["s",7,false,null,{"k":0.5}])"));
}

// ---- the two-spelling readers

TEST(TwoSpellingReaders, PascalCaseDecidesEvenWhenNull)
{
    const KeyedDecodingContainer container(
        json(R"({"SessionId":null,"sessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427"})"), decoder);
    const QStringList keys { QStringLiteral("SessionId"), QStringLiteral("sessionId") };
    EXPECT_TRUE(failsWith([&] { decodeFirstPresent<QUuid>(container, keys); }, decodingFailure(Kind::valueNotFound)));
    EXPECT_EQ(decodeFirstPresentIfPresent<QUuid>(container, keys), std::nullopt);
}

TEST(TwoSpellingReaders, PascalCaseOfWrongTypeFailsDespiteGoodCamelCase)
{
    const KeyedDecodingContainer container(json(R"({"Text":5,"text":"hello"})"), decoder);
    const QStringList keys { QStringLiteral("Text"), QStringLiteral("text") };
    EXPECT_TRUE(failsWith([&] { decodeFirstPresent<QString>(container, keys); }, decodingFailure(Kind::typeMismatch)));
    EXPECT_TRUE(
        failsWith([&] { decodeFirstPresentIfPresent<QString>(container, keys); }, decodingFailure(Kind::typeMismatch)));
}

TEST(TwoSpellingReaders, CamelCaseAloneIsRead)
{
    const KeyedDecodingContainer container(json(R"({"sessionId":"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"})"), decoder);
    const QStringList keys { QStringLiteral("SessionId"), QStringLiteral("sessionId") };
    const QUuid expected(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
    EXPECT_EQ(decodeFirstPresent<QUuid>(container, keys), expected);
    EXPECT_EQ(decodeFirstPresentIfPresent<QUuid>(container, keys), expected);
}

TEST(TwoSpellingReaders, MissingBothNamesEveryCandidate)
{
    const WireDecoder nestedDecoder = decoder.nested(QStringLiteral("Fields")).nested(0);
    const KeyedDecodingContainer container(json(R"({"SESSIONID":"x"})"), nestedDecoder);
    try {
        decodeFirstPresent<QUuid>(container, { QStringLiteral("SessionId"), QStringLiteral("sessionId") });
        FAIL() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), Kind::keyNotFound);
        EXPECT_EQ(error.key(), QStringLiteral("SessionId"));
        EXPECT_EQ(error.codingPath(), (QStringList { QStringLiteral("Fields"), QStringLiteral("0") }));
        EXPECT_EQ(error.debugDescription(), QStringLiteral("Missing required keys: SessionId, sessionId"));
    }
    EXPECT_EQ(
        decodeFirstPresentIfPresent<QString>(container, { QStringLiteral("SessionId"), QStringLiteral("sessionId") }),
        std::nullopt);
}

struct PrimitiveCase
{
    const char* name;
    const char* member;
    std::function<void(const KeyedDecodingContainer&)> read;
    std::optional<Kind> failure;
};

class PrimitiveMembers : public ::testing::TestWithParam<PrimitiveCase>
{
};

TEST_P(PrimitiveMembers, AcceptOnlyTheirOwnJsonType)
{
    const PrimitiveCase& row = GetParam();
    const KeyedDecodingContainer container(json((QByteArray(R"({"V":)") + row.member + "}").constData()), decoder);
    if (row.failure)
        EXPECT_TRUE(failsWith([&] { row.read(container); }, decodingFailure(*row.failure)));
    else
        EXPECT_NO_THROW(row.read(container));
}

const QStringList vKeys { QStringLiteral("V"), QStringLiteral("v") };
auto readText = [](const KeyedDecodingContainer& c) { decodeFirstPresent<QString>(c, vKeys); };
auto readInt = [](const KeyedDecodingContainer& c) { decodeFirstPresent<qint64>(c, vKeys); };
auto readBool = [](const KeyedDecodingContainer& c) { decodeFirstPresent<bool>(c, vKeys); };
auto readDouble = [](const KeyedDecodingContainer& c) { decodeFirstPresent<double>(c, vKeys); };
auto readUUID = [](const KeyedDecodingContainer& c) { decodeFirstPresent<QUuid>(c, vKeys); };
auto readURL = [](const KeyedDecodingContainer& c) { decodeFirstPresent<QUrl>(c, vKeys); };

INSTANTIATE_TEST_SUITE_P(Types, PrimitiveMembers,
    ::testing::Values(PrimitiveCase { "TextFromString", R"("x")", readText, {} },
        PrimitiveCase { "TextFromNumber", "1", readText, Kind::typeMismatch },
        PrimitiveCase { "TextFromNull", "null", readText, Kind::valueNotFound },
        PrimitiveCase { "IntFromInteger", "9223372036854775807", readInt, {} },
        PrimitiveCase { "IntFromFraction", "1.5", readInt, Kind::dataCorrupted },
        PrimitiveCase { "IntBeyondRange", "1e300", readInt, Kind::dataCorrupted },
        PrimitiveCase { "IntFromNumericString", R"("5")", readInt, Kind::typeMismatch },
        PrimitiveCase { "IntFromBool", "true", readInt, Kind::typeMismatch },
        PrimitiveCase { "BoolFromBool", "false", readBool, {} },
        PrimitiveCase { "BoolFromNumber", "1", readBool, Kind::typeMismatch },
        PrimitiveCase { "DoubleFromInteger", "3", readDouble, {} },
        PrimitiveCase { "DoubleFromString", R"("3")", readDouble, Kind::typeMismatch },
        PrimitiveCase { "UUIDUpperCase", R"("1B4E28BA-2FA1-11D2-883F-0016D3CCA427")", readUUID, {} },
        PrimitiveCase {
            "UUIDWithBraces", R"("{1b4e28ba-2fa1-11d2-883f-0016d3cca427}")", readUUID, Kind::dataCorrupted },
        PrimitiveCase { "UUIDWithoutHyphens", R"("1b4e28ba2fa111d2883f0016d3cca427")", readUUID, Kind::dataCorrupted },
        PrimitiveCase { "UUIDNotHex", R"("zb4e28ba-2fa1-11d2-883f-0016d3cca427")", readUUID, Kind::dataCorrupted },
        PrimitiveCase { "UUIDFromNumber", "5", readUUID, Kind::typeMismatch },
        PrimitiveCase { "URLFromString", R"("https://tessvale.test/a?b=c")", readURL, {} },
        PrimitiveCase { "URLWithSpace", R"("https://tess vale.test/")", readURL, Kind::dataCorrupted },
        PrimitiveCase { "URLEmpty", R"("")", readURL, Kind::dataCorrupted }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(AnyCodingKeyConstruction, FromTextAndFromInteger)
{
    const AnyCodingKey text(QStringLiteral("SessionId"));
    EXPECT_EQ(text.stringValue, QStringLiteral("SessionId"));
    EXPECT_FALSE(text.intValue);
    const AnyCodingKey number(42);
    EXPECT_EQ(number.stringValue, QStringLiteral("42"));
    EXPECT_EQ(number.intValue, 42);
}

// ---- the device platform

struct PlatformCase
{
    const char* name;
    const char* text;
    std::optional<DevicePlatform> platform;
    QString failure;
};

class DevicePlatformDecoding : public ::testing::TestWithParam<PlatformCase>
{
};

TEST_P(DevicePlatformDecoding, EnvelopeOrPlainString)
{
    const PlatformCase& row = GetParam();
    if (row.platform) {
        EXPECT_EQ(decodeWireValue<DevicePlatform>(json(row.text), decoder), *row.platform);
    } else {
        EXPECT_TRUE(failsWith([&] { decodeWireValue<DevicePlatform>(json(row.text), decoder); },
            decodingFailure(row.failure.isEmpty() ? Kind::typeMismatch : Kind::dataCorrupted, row.failure)));
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, DevicePlatformDecoding,
    ::testing::Values(PlatformCase { "PlainMacOS", R"("MacOS")", DevicePlatform::macOS, {} },
        PlatformCase { "PlainLowerMacOS", R"("macos")", DevicePlatform::macOS, {} },
        PlatformCase { "EnvelopeLinux", R"({"Case":"Linux"})", DevicePlatform::linux, {} },
        PlatformCase { "EnvelopeLowerLinuxWithFields", R"({"Case":"linux","Fields":[]})", DevicePlatform::linux, {} },
        PlatformCase { "PlainCapitals", R"("MACOS")", {}, QStringLiteral("Unsupported platform MACOS") },
        PlatformCase { "EnvelopeCapitals", R"({"Case":"MACOS"})", {}, QStringLiteral("Unsupported platform MACOS") },
        PlatformCase { "EnvelopeWindows", R"({"Case":"Windows"})", {}, QStringLiteral("Unsupported platform Windows") },
        PlatformCase { "Number", "3", {}, {} }, PlatformCase { "ObjectWithoutCase", R"({"case":"MacOS"})", {}, {} }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DevicePlatformRawValue, OnlyExactRawValues)
{
    EXPECT_EQ(devicePlatformFromRawValue(QStringLiteral("MacOS")), DevicePlatform::macOS);
    EXPECT_EQ(devicePlatformFromRawValue(QStringLiteral("Linux")), DevicePlatform::linux);
    EXPECT_EQ(devicePlatformFromRawValue(QStringLiteral("macos")), std::nullopt);
    EXPECT_EQ(toJSON(DevicePlatform::linux), QJsonValue(QStringLiteral("Linux")));
    EXPECT_EQ(toJSON(DevicePlatform::macOS), QJsonValue(QStringLiteral("MacOS")));
}

// ---- URL trust

// A null scheme is the sign-in page's rule; a null domain is the decoder's "tessvale.test".
struct TrustCase
{
    const char* name;
    const char* url;
    const QString* scheme;
    bool trusted;
    const char* domain = nullptr;
};

class ServiceURLTrustCheck : public ::testing::TestWithParam<TrustCase>
{
};

TEST_P(ServiceURLTrustCheck, SchemeAndHostUnderTheDomain)
{
    const TrustCase& row = GetParam();
    const QUrl url(QString::fromUtf8(row.url));
    const WireDecoder at
        = (row.domain ? WireDecoder(QString::fromUtf8(row.domain)) : decoder).nested(QStringLiteral("WebSocketUrl"));
    const QString& failure = ServiceURLTrust::untrustedWebSocketURL;
    const auto validated = [&] {
        return row.scheme ? validatedServiceURL(url, *row.scheme, failure, at)
                          : validatedSignInPageURL(url, failure, at);
    };
    if (row.trusted) {
        EXPECT_EQ(validated(), url);
        return;
    }
    try {
        validated();
        FAIL() << "trusted " << row.url;
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), Kind::dataCorrupted);
        EXPECT_EQ(error.debugDescription(), QStringLiteral("Untrusted WebSocket URL."));
        EXPECT_EQ(error.codingPath(), QStringList { QStringLiteral("WebSocketUrl") });
    }
}

const QString* wss = &ServiceURLTrust::webSocketScheme;
const QString* https = &ServiceURLTrust::httpsScheme;
const QString* signInPage = nullptr;

INSTANTIATE_TEST_SUITE_P(Urls, ServiceURLTrustCheck,
    ::testing::Values(TrustCase { "Domain", "wss://tessvale.test", wss, true },
        TrustCase { "SubdomainWithPath", "wss://api.tessvale.test/stream?x=1", wss, true },
        TrustCase { "Capitals", "WSS://API.TESSVALE.TEST/stream", wss, true },
        TrustCase { "HttpsWithPort", "https://tessvale.test:8443/authorize", https, true },
        TrustCase { "UserInfoIgnored", "wss://user:pw@tessvale.test/", wss, true },
        TrustCase { "PlainWs", "ws://tessvale.test/stream", wss, false },
        TrustCase { "HttpsForSocket", "https://tessvale.test/stream", wss, false },
        TrustCase { "DomainAsPrefix", "wss://tessvale.test.example/stream", wss, false },
        TrustCase { "NoDotBeforeDomain", "wss://eviltessvale.test/stream", wss, false },
        TrustCase { "NoHost", "wss:/stream", wss, false },
        TrustCase { "NoScheme", "//tessvale.test/stream", wss, false },
        TrustCase { "DomainInUserInfo", "wss://tessvale.test@evil.example/", wss, false },
        TrustCase { "HttpForHttps", "http://tessvale.test/authorize", https, false },
        // Plain http only for a sign-in page on this computer; other URLs keep https and wss there too.
        TrustCase { "PageHttps", "https://tessvale.test/authorize", signInPage, true },
        TrustCase { "PageHttpLocalhost", "http://localhost:27445/authorize?a=1", signInPage, true, "localhost" },
        TrustCase { "PageHttpLocalhostCapitals", "HTTP://LocalHost:27445/authorize", signInPage, true, "localhost" },
        TrustCase { "PageHttpIPv4", "http://127.0.0.1:27445/authorize", signInPage, true, "127.0.0.1" },
        TrustCase { "PageHttpIPv4Range", "http://127.3.2.1/authorize", signInPage, true, "127.3.2.1" },
        TrustCase { "PageHttpIPv6", "http://[::1]:27445/authorize", signInPage, true, "::1" },
        TrustCase { "PageHttpElsewhere", "http://tessvale.test/authorize", signInPage, false },
        TrustCase { "PageHttpLookAlike", "http://localhost.tessvale.test/authorize", signInPage, false },
        TrustCase { "PageHttpLoopbackInUserInfo", "http://localhost@tessvale.test/authorize", signInPage, false },
        TrustCase { "PageHttpUnicodeLookAlike", "http://l\u043Ecalhost/authorize", signInPage, false, "localhost" },
        TrustCase { "PageHttpNumericPrefix", "http://127.0.0.1.example/authorize", signInPage, false, "example" },
        TrustCase { "PageHttpOutsideDomain", "http://127.0.0.1/authorize", signInPage, false, "localhost" },
        TrustCase { "PageOtherScheme", "ftp://localhost/authorize", signInPage, false, "localhost" },
        TrustCase { "PageWs", "ws://localhost/authorize", signInPage, false, "localhost" },
        TrustCase { "HttpForHttpsOnLoopback", "http://localhost:27443/client/v1/me", https, false, "localhost" },
        TrustCase { "WsOnLoopback", "ws://localhost:27444/stream", wss, false, "localhost" },
        TrustCase { "HttpForSocketOnLoopback", "http://127.0.0.1:27444/stream", wss, false, "127.0.0.1" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ServiceURLTrustDomain, EmptyDomainTrustsNothing)
{
    EXPECT_FALSE(
        isTrustedServiceURL(QUrl(QStringLiteral("wss://tessvale.test")), ServiceURLTrust::webSocketScheme, {}));
    EXPECT_FALSE(isTrustedServiceURL(QUrl(QStringLiteral("wss://.")), ServiceURLTrust::webSocketScheme, {}));
}

TEST(ServiceURLTrustDomain, LocalhostCanBeTrustedExplicitly)
{
    EXPECT_TRUE(isTrustedServiceURL(QUrl(QStringLiteral("wss://localhost:4433/stream")),
        ServiceURLTrust::webSocketScheme, QStringLiteral("localhost")));
}

TEST(CloudEndpointsConfiguration, EnvironmentOverridesDefaults)
{
    const CloudEndpoints defaults = CloudEndpoints::defaults();
    EXPECT_TRUE(defaults.serviceDomain.endsWith(QStringLiteral("example")));
    qputenv("TESSVALE_SERVICE_DOMAIN", "LocalHost");
    qputenv("TESSVALE_REST_ORIGIN", "https://localhost:4433");
    const CloudEndpoints configured = CloudEndpoints::configured();
    qunsetenv("TESSVALE_SERVICE_DOMAIN");
    qunsetenv("TESSVALE_REST_ORIGIN");
    EXPECT_EQ(configured.serviceDomain, QStringLiteral("localhost"));
    EXPECT_EQ(configured.restOrigin, QUrl(QStringLiteral("https://localhost:4433")));
    EXPECT_EQ(configured.webOrigin, defaults.webOrigin);
    EXPECT_EQ(WireDecoder(configured).trustedServiceDomain(), QStringLiteral("localhost"));
    EXPECT_EQ(CloudEndpoints::configured(), defaults);
}

// ---- hostile input

TEST(HostileInput, RefusedBeforeParsing)
{
    QByteArray deep(100000, '[');
    deep.append(QByteArray(100000, ']'));
    EXPECT_TRUE(failsWith([&] { parseWireJSON(deep); }, decodingFailure(Kind::dataCorrupted)));

    QByteArray huge = "[\"" + QByteArray(kMaxWireMessageBytes, 'a') + "\"]";
    EXPECT_TRUE(failsWith([&] { parseWireJSON(huge); }, decodingFailure(Kind::dataCorrupted)));

    EXPECT_TRUE(failsWith([] { parseWireJSON(QByteArray("[\"\xff\xfe\"]")); }, decodingFailure(Kind::dataCorrupted)));
    EXPECT_TRUE(
        failsWith([] { parseWireJSON(QByteArray("[\"\xed\xa0\x80\"]")); }, decodingFailure(Kind::dataCorrupted)));
    EXPECT_TRUE(failsWith([] { parseWireJSON(QByteArray("[1e400]")); }, decodingFailure(Kind::dataCorrupted)));
    EXPECT_TRUE(failsWith([] { parseWireJSON(QByteArray("")); }, decodingFailure(Kind::dataCorrupted)));
    EXPECT_TRUE(
        failsWith([] { parseWireJSON(QByteArray("{\"a\":1} trailing")); }, decodingFailure(Kind::dataCorrupted)));
}

TEST(HostileInput, BracketsInsideStringsDoNotCountAsNesting)
{
    const QByteArray text = "{\"Case\":\"" + QByteArray(1000, '[') + "\\\"{\"}";
    EXPECT_EQ(parseWireJSON(text).toObject().value(QStringLiteral("Case")).toString().size(), 1002);
}

TEST(HostileInput, NestingUpToTheLimitParses)
{
    const QByteArray text = QByteArray(kMaxWireNestingDepth, '[') + QByteArray(kMaxWireNestingDepth, ']');
    EXPECT_NO_THROW(parseWireJSON(text));
}

} // namespace
