#include <gtest/gtest.h>

#include <QJsonObject>

#include "WireTestSupport.h"
#include "cloud/CloudRestRequests.h"
#include "cloud/CloudRestResponses.h"

using namespace tessvale;
using namespace tessvale::testing;
using Kind = DecodingError::Kind;

namespace {

const WireDecoder decoder { QStringLiteral("tessvale.test") };

template <typename T> T decodeText(const char* text)
{
    return decodeWireJSON<T>(QByteArray(text), decoder);
}

template <typename T>::testing::AssertionResult rejects(const char* text, const ExpectedFailure& failure)
{
    return failsWith([&] { decodeText<T>(text); }, failure);
}

// ---- requests

TEST(RestRequests, DeviceAuthStartWritesEveryMember)
{
    const DeviceAuthStartRequest request(
        QStringLiteral(" Ada@Example.com "), QStringLiteral("Ada's PC"), QStringLiteral("1.0.0"));
    EXPECT_EQ(jsonObject(request.encoded()),
        json(
            R"({"Email":" Ada@Example.com ","DeviceName":"Ada's PC","Platform":{"Case":"MacOS"},"AppVersion":"1.0.0"})")
            .toObject());
}

TEST(RestRequests, NativeAuthStartWritesEnvelopes)
{
    const NativeAuthStartRequest request(QStringLiteral("desk"), QStringLiteral("2.1"), QStringLiteral("chal-LENGE_"),
        QStringLiteral("tessvale://auth/callback"), QStringLiteral("st4te"));
    EXPECT_EQ(jsonObject(request.encoded()),
        json(R"({"DeviceName":"desk","Platform":{"Case":"MacOS"},"AppVersion":"2.1","CodeChallenge":"chal-LENGE_",
                 "CodeChallengeMethod":{"Case":"S256"},"RedirectUri":"tessvale://auth/callback","State":"st4te"})")
            .toObject());
}

TEST(RestRequests, TokenRequestWritesLowerCaseAttempt)
{
    const NativeAuthTokenRequest request(QUuid(QStringLiteral("6FA459EA-EE8A-3CA4-894E-DB77E160355E")),
        QStringLiteral("c0de"), QStringLiteral("verifier"), QStringLiteral("http://127.0.0.1:5000/cb"));
    const QByteArray bytes = request.encoded();
    EXPECT_EQ(jsonObject(bytes),
        json(R"({"AttemptId":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Code":"c0de","CodeVerifier":"verifier",
                 "RedirectUri":"http://127.0.0.1:5000/cb"})")
            .toObject());
    EXPECT_FALSE(bytes.contains('\n'));
}

TEST(RestRequests, EmptyStringsAreStillWritten)
{
    const NativeAuthTokenRequest request { QUuid(), QString(), QString(), QString() };
    EXPECT_EQ(jsonObject(request.encoded()),
        json(R"({"AttemptId":"00000000-0000-0000-0000-000000000000","Code":"","CodeVerifier":"","RedirectUri":""})")
            .toObject());
}

// ---- sign-in starts

TEST(SignInResponses, DeviceAuthStartTakesAnyApprovalURL)
{
    const auto response = decodeText<DeviceAuthStartResponse>(
        R"({"requestId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","ExpiresAt":"2030-01-01T00:00:00Z","PollAfterSeconds":5,
            "approvalUrl":"http://elsewhere.example/approve"})");
    EXPECT_EQ(response.requestID, QUuid(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")));
    EXPECT_EQ(response.expiresAt, QStringLiteral("2030-01-01T00:00:00Z"));
    EXPECT_EQ(response.pollAfterSeconds, 5);
    EXPECT_EQ(response.approvalURL, QUrl(QStringLiteral("http://elsewhere.example/approve")));
}

TEST(SignInResponses, NativeAuthStartOnTrustedHost)
{
    const auto response = decodeText<NativeAuthStartResponse>(
        R"({"AttemptId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","AuthorizationUrl":"https://auth.tessvale.test:8443/authorize?x=1",
            "ExpiresAt":"soon"})");
    EXPECT_EQ(response.authorizationURL, QUrl(QStringLiteral("https://auth.tessvale.test:8443/authorize?x=1")));
    EXPECT_EQ(response.expiresAt, QStringLiteral("soon"));
}

struct FailureCase
{
    const char* name;
    const char* text;
    ExpectedFailure failure;
};

class NativeAuthStartRejected : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(NativeAuthStartRejected, Body)
{
    EXPECT_TRUE(rejects<NativeAuthStartResponse>(GetParam().text, GetParam().failure));
}

const ExpectedFailure untrustedAuthorization
    = decodingFailure(Kind::dataCorrupted, QStringLiteral("Untrusted authorization URL."));

INSTANTIATE_TEST_SUITE_P(Bodies, NativeAuthStartRejected,
    ::testing::Values(
        FailureCase { "HttpScheme",
            R"({"AttemptId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","AuthorizationUrl":"http://tessvale.test/a","ExpiresAt":"x"})",
            untrustedAuthorization },
        FailureCase { "ForeignHost",
            R"({"AttemptId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","AuthorizationUrl":"https://evil.example/a","ExpiresAt":"x"})",
            untrustedAuthorization },
        // The URL is checked before the next member is read.
        FailureCase { "UntrustedBeforeMissingExpiry",
            R"({"AttemptId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","authorizationUrl":"https://evil.example/a"})",
            untrustedAuthorization },
        FailureCase { "MissingAttempt", R"({"AuthorizationUrl":"https://tessvale.test/a","ExpiresAt":"x"})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: AttemptId, attemptId")) },
        FailureCase { "AttemptNotUUID",
            R"({"AttemptId":"abc","AuthorizationUrl":"https://tessvale.test/a","ExpiresAt":"x"})",
            decodingFailure(Kind::dataCorrupted) },
        FailureCase { "NotAnObject", R"(["x"])", decodingFailure(Kind::typeMismatch) }),
    [](const auto& row) { return std::string(row.param.name); });

// ---- account

const char* deviceJSON = R"({"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":"desk","Platform":{"Case":"MacOS"},
    "AppVersion":"1.0","CreatedAt":"2024-01-01","lastUsedAt":null,"RevokedAt":null,"revokedAt":"ignored"})";

TEST(AccountResponses, MeReadsNestedRecords)
{
    const QByteArray text = QByteArray(R"({"user":{"id":"u1","email":"a@b.c"},"Device":)") + deviceJSON + "}";
    const auto me = decodeWireJSON<ClientMeResponse>(text, decoder);
    EXPECT_EQ(me.user, (User { QStringLiteral("u1"), QStringLiteral("a@b.c") }));
    EXPECT_EQ(me.device.id, QUuid(QStringLiteral("6fa459ea-ee8a-3ca4-894e-db77e160355e")));
    EXPECT_EQ(me.device.platform, DevicePlatform::macOS);
    EXPECT_EQ(me.device.createdAt, QStringLiteral("2024-01-01"));
    EXPECT_EQ(me.device.lastUsedAt, std::nullopt);
    EXPECT_EQ(me.device.revokedAt, std::nullopt); // the null PascalCase member decides
}

TEST(AccountResponses, DevicePlatformAsPlainLowerCaseString)
{
    const auto device = decodeText<DeviceSummary>(
        R"({"id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","name":"box","platform":"linux","appVersion":"3"})");
    EXPECT_EQ(device.platform, DevicePlatform::linux);
    EXPECT_FALSE(device.createdAt);
}

class AccountRejected : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(AccountRejected, Body)
{
    EXPECT_TRUE(rejects<ClientMeResponse>(GetParam().text, GetParam().failure));
}

INSTANTIATE_TEST_SUITE_P(Bodies, AccountRejected,
    ::testing::Values(
        // The user is read first, so its absence is reported even though the device is broken too.
        FailureCase { "NoUser", R"({"Device":5})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: User, user")) },
        FailureCase {
            "UserNull", R"({"User":null,"user":{"Id":"u","Email":"e"}})", decodingFailure(Kind::valueNotFound) },
        FailureCase { "UserMissingEmail", R"({"User":{"Id":"u"},"Device":{}})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: Email, email")) },
        FailureCase { "NoDevice", R"({"User":{"Id":"u","Email":"e"}})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: Device, device")) },
        FailureCase { "UnknownPlatform",
            R"({"User":{"Id":"u","Email":"e"},"Device":{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":"n","Platform":"Windows","AppVersion":"1"}})",
            decodingFailure(Kind::dataCorrupted, QStringLiteral("Unsupported platform Windows")) },
        FailureCase { "CreatedAtNumber",
            R"({"User":{"Id":"u","Email":"e"},"Device":{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":"n","Platform":"MacOS","AppVersion":"1","CreatedAt":5}})",
            decodingFailure(Kind::typeMismatch) }),
    [](const auto& row) { return std::string(row.param.name); });

// ---- configuration and token

TEST(ConfigResponses, PingIntervalDefaultsOnlyWhenAbsentOrNull)
{
    struct Row
    {
        const char* member;
        qint64 expected;
    };
    for (const Row& row : { Row { "", 15 }, Row { R"(,"WebSocketPingIntervalSeconds":null)", 15 },
             Row { R"(,"webSocketPingIntervalSeconds":null)", 15 }, Row { R"(,"WebSocketPingIntervalSeconds":0)", 0 },
             Row { R"(,"webSocketPingIntervalSeconds":-4)", -4 },
             Row { R"(,"WebSocketPingIntervalSeconds":30)", 30 } }) {
        const QByteArray text
            = QByteArray(R"({"WebSocketUrl":"wss://stream.tessvale.test/v1","MaxChunkBytes":32000,"sampleRate":16000)")
            + row.member + "}";
        const auto config = decodeWireJSON<ClientConfigResponse>(text, decoder);
        EXPECT_EQ(config.webSocketPingIntervalSeconds, row.expected) << text.constData();
        EXPECT_EQ(config.maxChunkBytes, 32000);
        EXPECT_EQ(config.sampleRate, 16000);
        EXPECT_EQ(config.webSocketURL, QUrl(QStringLiteral("wss://stream.tessvale.test/v1")));
    }
}

class ConfigRejected : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(ConfigRejected, Body)
{
    EXPECT_TRUE(rejects<ClientConfigResponse>(GetParam().text, GetParam().failure));
}

const ExpectedFailure untrustedSocket
    = decodingFailure(Kind::dataCorrupted, QStringLiteral("Untrusted WebSocket URL."));

INSTANTIATE_TEST_SUITE_P(Bodies, ConfigRejected,
    ::testing::Values(
        FailureCase {
            "PlainWs", R"({"WebSocketUrl":"ws://tessvale.test/s","MaxChunkBytes":1,"SampleRate":1})", untrustedSocket },
        FailureCase { "HttpsScheme", R"({"WebSocketUrl":"https://tessvale.test/s","MaxChunkBytes":1,"SampleRate":1})",
            untrustedSocket },
        FailureCase { "LookalikeHost",
            R"({"WebSocketUrl":"wss://tessvale.test.evil.example/s","MaxChunkBytes":1,"SampleRate":1})",
            untrustedSocket },
        FailureCase { "NoDotHost", R"({"WebSocketUrl":"wss://eviltessvale.test/s","MaxChunkBytes":1,"SampleRate":1})",
            untrustedSocket },
        FailureCase { "NoHost", R"({"WebSocketUrl":"wss:/s","MaxChunkBytes":1,"SampleRate":1})", untrustedSocket },
        FailureCase { "UrlNotString", R"({"WebSocketUrl":7,"MaxChunkBytes":1,"SampleRate":1})",
            decodingFailure(Kind::typeMismatch) },
        FailureCase { "ChunkAsString", R"({"WebSocketUrl":"wss://tessvale.test/s","MaxChunkBytes":"1","SampleRate":1})",
            decodingFailure(Kind::typeMismatch) },
        FailureCase { "ChunkFraction", R"({"WebSocketUrl":"wss://tessvale.test/s","MaxChunkBytes":1.5,"SampleRate":1})",
            decodingFailure(Kind::dataCorrupted) },
        FailureCase { "PingAsString",
            R"({"WebSocketUrl":"wss://tessvale.test/s","MaxChunkBytes":1,"SampleRate":1,"WebSocketPingIntervalSeconds":"15"})",
            decodingFailure(Kind::typeMismatch) },
        FailureCase { "NoSampleRate", R"({"WebSocketUrl":"wss://tessvale.test/s","MaxChunkBytes":1})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: SampleRate, sampleRate")) }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ConfigResponses, TrustFollowsTheDecodersDomain)
{
    const QByteArray text = R"({"WebSocketUrl":"wss://localhost:4433/stream","MaxChunkBytes":1,"SampleRate":1})";
    EXPECT_NO_THROW(decodeWireJSON<ClientConfigResponse>(text, WireDecoder(QStringLiteral("localhost"))));
    EXPECT_TRUE(failsWith([&] { decodeWireJSON<ClientConfigResponse>(text, decoder); }, untrustedSocket));
    EXPECT_TRUE(
        failsWith([&] { decodeWireJSON<ClientConfigResponse>(text, WireDecoder(QString())); }, untrustedSocket));
}

TEST(TokenResponses, NestedRecordsAndTheirFailures)
{
    const QByteArray config = R"({"WebSocketUrl":"wss://tessvale.test/s","MaxChunkBytes":3200,"SampleRate":16000})";
    const QByteArray me = QByteArray(R"({"User":{"Id":"u","Email":"e"},"Device":)") + deviceJSON + "}";
    const auto token = decodeWireJSON<NativeAuthTokenResponse>(
        R"({"apiKey":"tv_live_x","Me":)" + me + R"(,"config":)" + config + "}", decoder);
    EXPECT_EQ(token.apiKey, QStringLiteral("tv_live_x"));
    EXPECT_EQ(token.me.user.email, QStringLiteral("e"));
    EXPECT_EQ(token.config.maxChunkBytes, 3200);
    EXPECT_EQ(token.config.webSocketPingIntervalSeconds, 15);

    const QByteArray untrusted = R"({"WebSocketUrl":"wss://evil.example/s","MaxChunkBytes":1,"SampleRate":1})";
    EXPECT_TRUE(failsWith(
        [&] {
            decodeWireJSON<NativeAuthTokenResponse>(
                R"({"ApiKey":"k","Me":)" + me + R"(,"Config":)" + untrusted + "}", decoder);
        },
        untrustedSocket));
    EXPECT_TRUE(
        failsWith([&] { decodeWireJSON<NativeAuthTokenResponse>(R"({"ApiKey":"k","Me":)" + me + "}", decoder); },
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: Config, config"))));
}

// ---- recovery

TEST(RecoveryResponses, StatusAsEnvelopeOrString)
{
    const auto envelope = decodeText<DictationSessionRecoveryResponse>(
        R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":{"Case":"Completed","Fields":[1]},
            "HasRecoverableText":true,"FinalText":"Hi.","rawText":"hi","ErrorCode":null})");
    EXPECT_EQ(envelope.status, QStringLiteral("Completed"));
    EXPECT_TRUE(envelope.hasRecoverableText);
    EXPECT_EQ(envelope.finalText, QStringLiteral("Hi."));
    EXPECT_EQ(envelope.rawText, QStringLiteral("hi"));
    EXPECT_FALSE(envelope.errorCode);

    const auto plain = decodeText<DictationSessionRecoveryResponse>(
        R"({"sessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","status":"Completed","hasRecoverableText":false,
            "checkpointedAt":"t"})");
    EXPECT_EQ(plain.status, QStringLiteral("Completed"));
    EXPECT_EQ(plain.checkpointedAt, QStringLiteral("t"));
}

class RecoveryRejected : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(RecoveryRejected, Body)
{
    EXPECT_TRUE(rejects<DictationSessionRecoveryResponse>(GetParam().text, GetParam().failure));
}

INSTANTIATE_TEST_SUITE_P(Bodies, RecoveryRejected,
    ::testing::Values(
        FailureCase { "StatusNumber",
            R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":5,"HasRecoverableText":true})",
            decodingFailure(Kind::typeMismatch) },
        FailureCase { "NoStatus", R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","HasRecoverableText":true})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: Status, status")) },
        FailureCase { "NoRecoverableFlag", R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":"Failed"})",
            decodingFailure(
                Kind::keyNotFound, QStringLiteral("Missing required keys: HasRecoverableText, hasRecoverableText")) },
        FailureCase { "FlagAsNumber",
            R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":"Failed","HasRecoverableText":1})",
            decodingFailure(Kind::typeMismatch) },
        FailureCase { "RawTextNumber",
            R"({"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":"Failed","RawText":[],"HasRecoverableText":true})",
            decodingFailure(Kind::typeMismatch) }),
    [](const auto& row) { return std::string(row.param.name); });

// ---- update offer

const char* updateJSON = R"({"Platform":"MacOS","CurrentVersion":"1.0","LatestVersion":"1.1","UpdateAvailable":true,
    "DownloadUrl":"https://downloads.tessvale.test/Tessvale-1.1.zip"})";

TEST(UpdateResponses, DecodesAndComparesEveryField)
{
    const auto offer = decodeText<ClientUpdateResponse>(updateJSON);
    EXPECT_EQ(offer.platform, QStringLiteral("MacOS"));
    EXPECT_EQ(offer.latestVersion, QStringLiteral("1.1"));
    EXPECT_TRUE(offer.updateAvailable);
    EXPECT_FALSE(offer.releaseNotes);

    ClientUpdateResponse withEmptyNotes = offer;
    withEmptyNotes.releaseNotes = QString();
    EXPECT_NE(offer, withEmptyNotes);
    ClientUpdateResponse same = offer;
    EXPECT_EQ(offer, same);
    same.downloadURL = QUrl(QStringLiteral("https://downloads.tessvale.test/other.zip"));
    EXPECT_NE(offer, same);
}

TEST(UpdateResponses, UntrustedDownloadIsRejected)
{
    for (const char* url : { "http://downloads.tessvale.test/a.zip", "https://downloads.evil.example/a.zip",
             "https://tessvale.test.evil.example/a.zip", "ftp://tessvale.test/a.zip" }) {
        const QByteArray text = QByteArray(R"({"Platform":"MacOS","CurrentVersion":"1.0","LatestVersion":"1.1",
            "UpdateAvailable":true,"DownloadUrl":")")
            + url + "\"}";
        EXPECT_TRUE(failsWith([&] { decodeWireJSON<ClientUpdateResponse>(text, decoder); },
            decodingFailure(Kind::dataCorrupted, QStringLiteral("Untrusted download URL."))))
            << url;
    }
}

TEST(UpdateResponses, PlatformIsPlainText)
{
    const char* text = R"({"Platform":{"Case":"MacOS"},"CurrentVersion":"1.0","LatestVersion":"1.1",
        "UpdateAvailable":false,"DownloadUrl":"https://tessvale.test/a.zip"})";
    EXPECT_TRUE(rejects<ClientUpdateResponse>(text, decodingFailure(Kind::typeMismatch)));
}

// ---- device sign-in status

const char* approvedFields = R"([null,{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":"desk","Platform":"MacOS",
    "AppVersion":"1.0"},{"prefix":"tv_live_ab"}])";

DeviceAuthStatusResponse statusResponse(const QByteArray& status)
{
    return decodeWireJSON<DeviceAuthStatusResponse>(
        R"({"RequestId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":)" + status + "}", decoder);
}

TEST(DeviceAuthStatuses, SimpleCases)
{
    EXPECT_EQ(statusResponse(R"({"Case":"Pending"})").status().statusCase, DeviceAuthStatus::Case::pending);
    EXPECT_EQ(
        statusResponse(R"({"Case":"Expired","Fields":[1]})").status().statusCase, DeviceAuthStatus::Case::expired);
    EXPECT_EQ(statusResponse(R"({"Case":"Canceled"})").status().statusCase, DeviceAuthStatus::Case::canceled);
    EXPECT_EQ(statusResponse(R"({"Case":"Pending"})").requestID(),
        QUuid(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")));
}

TEST(DeviceAuthStatuses, ApprovedWithoutApiKey)
{
    const DeviceAuthStatus status
        = statusResponse(QByteArray(R"({"Case":"Approved","Fields":)") + approvedFields + "}").status();
    ASSERT_EQ(status.statusCase, DeviceAuthStatus::Case::approved);
    ASSERT_TRUE(status.approved);
    EXPECT_FALSE(status.approved->apiKey);
    EXPECT_EQ(status.approved->device.name, QStringLiteral("desk"));
    EXPECT_EQ(status.approved->summary.prefix, QStringLiteral("tv_live_ab"));
}

TEST(DeviceAuthStatuses, ApprovedWithApiKey)
{
    const DeviceAuthStatus status = statusResponse(
        R"({"Case":"Approved","Fields":["tv_live_secret",{"id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","name":"d",
            "platform":{"Case":"Linux"},"appVersion":"1"},{"Prefix":"tv_live_t"}]})")
                                        .status();
    EXPECT_EQ(status.approved->apiKey, QStringLiteral("tv_live_secret"));
    EXPECT_EQ(status.approved->device.platform, DevicePlatform::linux);
}

TEST(DeviceAuthStatuses, FailuresAreRaisedOnEveryRead)
{
    struct Row
    {
        const char* status;
        ExpectedFailure failure;
    };
    const ExpectedFailure malformed = invalidResponse(QStringLiteral("Approved device auth payload was malformed."));
    for (const Row& row :
        { Row { R"({"Case":"Approved"})", malformed }, Row { R"({"Case":"Approved","Fields":[null,{}]})", malformed },
            Row { R"({"Case":"Approved","Fields":[null,{},{},{}]})", malformed },
            Row { R"({"Case":"approved","Fields":[]})",
                invalidResponse(QStringLiteral("Unsupported device auth status: approved")) },
            Row { R"({"Case":"Approved","Fields":[null,{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e"},{"Prefix":"p"}]})",
                decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: Name, name")) },
            Row {
                R"({"Case":"Approved","Fields":[null,{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":"d","Platform":"MacOS","AppVersion":"1"},"p"]})",
                decodingFailure(Kind::typeMismatch) } }) {
        const DeviceAuthStatusResponse response = statusResponse(row.status);
        EXPECT_TRUE(failsWith([&] { response.status(); }, row.failure)) << row.status;
        EXPECT_TRUE(failsWith([&] { response.status(); }, row.failure)) << row.status;
    }
}

TEST(DeviceAuthStatuses, PlainStringStatusDoesNotDecode)
{
    EXPECT_TRUE(
        rejects<DeviceAuthStatusResponse>(R"({"RequestId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Status":"Pending"})",
            decodingFailure(Kind::typeMismatch)));
}

TEST(DeviceAuthStatuses, PascalCaseWinsOverCamelCase)
{
    const auto response = decodeText<DeviceAuthStatusResponse>(
        R"({"RequestId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","requestId":"not a uuid","Status":{"Case":"Expired"},
            "status":{"Case":"Pending"}})");
    EXPECT_EQ(response.status().statusCase, DeviceAuthStatus::Case::expired);
}

} // namespace

namespace {

TEST(DecodingErrorPaths, PointAtTheFailingNestedMember)
{
    try {
        tessvale::decodeWireJSON<tessvale::ClientMeResponse>(
            R"({"User":{"Id":"u","Email":"e"},"device":{"Id":"6fa459ea-ee8a-3ca4-894e-db77e160355e","Name":7}})",
            tessvale::WireDecoder(QStringLiteral("tessvale.test")));
        FAIL() << "decoded";
    } catch (const tessvale::DecodingError& error) {
        EXPECT_EQ(error.kind(), tessvale::DecodingError::Kind::typeMismatch);
        EXPECT_EQ(error.codingPath(), (QStringList { QStringLiteral("device"), QStringLiteral("Name") }));
    }
}

} // namespace
