#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "WireTestSupport.h"
#include "cloud/ClientStreamMessage.h"
#include "cloud/DictationSessionState.h"
#include "cloud/ServerStreamMessage.h"

using namespace tessvale;
using namespace tessvale::testing;
using Kind = DecodingError::Kind;

namespace {

const QUuid sessionUUID(QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"));
const QUuid deviceUUID(QStringLiteral("6FA459EA-EE8A-3CA4-894E-DB77E160355E"));

// ---- client frames

struct ClientFrameCase
{
    const char* name;
    ClientStreamMessage message;
    const char* expected; // compared as JSON, member order ignored
};

class ClientFrames : public ::testing::TestWithParam<ClientFrameCase>
{
};

TEST_P(ClientFrames, EncodeToTheEnvelope)
{
    const ClientFrameCase& row = GetParam();
    const QByteArray bytes = row.message.encoded();
    EXPECT_EQ(jsonObject(bytes), json(row.expected).toObject()) << bytes.constData();
    EXPECT_FALSE(bytes.contains('\n'));
}

INSTANTIATE_TEST_SUITE_P(AllCases, ClientFrames,
    ::testing::Values(ClientFrameCase { "StartWithFocusApp",
                          ClientStreamMessage::startSession(
                              { sessionUUID, deviceUUID, QStringLiteral("1.2.3"), QStringLiteral("Notes") }),
                          R"({"Case":"StartSession","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427",
                "DeviceId":"6fa459ea-ee8a-3ca4-894e-db77e160355e","AppVersion":"1.2.3","FocusApp":"Notes"}]})" },
        ClientFrameCase { "StartWithoutFocusAppWritesNull",
            ClientStreamMessage::startSession({ sessionUUID, deviceUUID, QStringLiteral("1.2.3"), std::nullopt }),
            R"({"Case":"StartSession","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427",
                "DeviceId":"6fa459ea-ee8a-3ca4-894e-db77e160355e","AppVersion":"1.2.3","FocusApp":null}]})" },
        ClientFrameCase { "StartWithEmptyFocusAppKeepsIt",
            ClientStreamMessage::startSession({ sessionUUID, deviceUUID, QString(), QString() }),
            R"({"Case":"StartSession","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427",
                "DeviceId":"6fa459ea-ee8a-3ca4-894e-db77e160355e","AppVersion":"","FocusApp":""}]})" },
        ClientFrameCase { "AudioChunkSequenceZero", ClientStreamMessage::audioChunk(0, QStringLiteral("AAEC/w==")),
            R"({"Case":"AudioChunk","Fields":[{"Sequence":0,"DataBase64":"AAEC/w=="}]})" },
        ClientFrameCase { "AudioChunkSequenceSeven", ClientStreamMessage::audioChunk(7, QStringLiteral("not base64!")),
            R"({"Case":"AudioChunk","Fields":[{"Sequence":7,"DataBase64":"not base64!"}]})" },
        ClientFrameCase { "Ping", ClientStreamMessage::ping(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")),
            R"({"Case":"Ping","Fields":["1b4e28ba-2fa1-11d2-883f-0016d3cca427"]})" },
        ClientFrameCase { "Stop", ClientStreamMessage::stopSession(), R"({"Case":"StopSession"})" },
        ClientFrameCase { "Cancel", ClientStreamMessage::cancelSession(), R"({"Case":"CancelSession"})" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ClientFrameText, StopAndCancelAreExactly)
{
    EXPECT_EQ(ClientStreamMessage::stopSession().encoded(), QByteArray(R"({"Case":"StopSession"})"));
    EXPECT_EQ(ClientStreamMessage::cancelSession().encoded(), QByteArray(R"({"Case":"CancelSession"})"));
}

TEST(ClientFrameText, SequenceIsAnIntegralNumber)
{
    const QByteArray bytes = ClientStreamMessage::audioChunk(7, QStringLiteral("QQ==")).encoded();
    EXPECT_TRUE(bytes.contains("\"Sequence\":7,") || bytes.contains("\"Sequence\":7}")) << bytes.constData();
}

TEST(ClientFrameText, NonAsciiTextIsUtf8)
{
    const QByteArray bytes = ClientStreamMessage::startSession(
        { sessionUUID, deviceUUID, QStringLiteral("1"), QStringLiteral("Café \"Ω\"") })
                                 .encoded();
    EXPECT_TRUE(bytes.contains("Caf\xc3\xa9 \\\"\xce\xa9\\\"")) << bytes.constData();
}

// ---- server frames that decode

TEST(ServerFrames, SessionStartedAcceptsCapitalUUID)
{
    const ServerStreamMessage message
        = ServerStreamMessage::decode(R"({"Case":"SessionStarted","Fields":["1B4E28BA-2FA1-11D2-883F-0016D3CCA427"]})");
    EXPECT_EQ(message.messageCase(), ServerStreamMessage::Case::sessionStarted);
    EXPECT_EQ(message.sessionID(), sessionUUID);
}

TEST(ServerFrames, SessionCompletedCarriesItsUUID)
{
    const ServerStreamMessage message = ServerStreamMessage::decode(
        R"({"Fields":["1b4e28ba-2fa1-11d2-883f-0016d3cca427"],"Case":"SessionCompleted"})");
    EXPECT_EQ(message.messageCase(), ServerStreamMessage::Case::sessionCompleted);
    EXPECT_EQ(message.sessionID(), sessionUUID);
}

TEST(ServerFrames, StateChangeKeepsEnvelopeAndMapsKnownState)
{
    const ServerStreamMessage message = ServerStreamMessage::decode(
        R"({"Case":"SessionStateChanged","Fields":[{"sessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","state":{"Case":"Recording"}}]})");
    ASSERT_EQ(message.messageCase(), ServerStreamMessage::Case::sessionStateChanged);
    const SessionStateChangedPayload* payload = message.sessionStateChangedPayload();
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->sessionID, sessionUUID);
    EXPECT_EQ(payload->decodedState(), DictationSessionState::recording);
    EXPECT_FALSE(payload->detail);
}

TEST(ServerFrames, UnknownStateNameStillDecodes)
{
    const ServerStreamMessage message = ServerStreamMessage::decode(
        R"({"Case":"SessionStateChanged","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","State":{"Case":"Thinking","Fields":[1]},"Detail":"warming up"}]})");
    const SessionStateChangedPayload* payload = message.sessionStateChangedPayload();
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->decodedState(), std::nullopt);
    EXPECT_EQ(payload->state.Case, QStringLiteral("Thinking"));
    ASSERT_TRUE(payload->state.Fields);
    EXPECT_EQ(payload->state.Fields->size(), 1);
    EXPECT_EQ(payload->detail, QStringLiteral("warming up"));
}

TEST(ServerFrames, TranscriptPayloads)
{
    const auto partial = ServerStreamMessage::decode(
        R"({"Case":"PartialTranscript","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","Text":"hel"}]})");
    ASSERT_TRUE(partial.partialTranscriptPayload());
    EXPECT_EQ(*partial.partialTranscriptPayload(), (PartialTranscriptPayload { sessionUUID, QStringLiteral("hel") }));

    const auto final = ServerStreamMessage::decode(
        R"({"Case":"FinalTranscript","Fields":[{"sessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","rawText":"hello  world","finalText":"Hello world."}]})");
    ASSERT_TRUE(final.finalTranscriptPayload());
    EXPECT_EQ(*final.finalTranscriptPayload(),
        (FinalTranscriptPayload { sessionUUID, QStringLiteral("hello  world"), QStringLiteral("Hello world.") }));

    const auto committed = ServerStreamMessage::decode(
        R"({"Case":"TranscriptCommitted","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","FinalText":"Hello world.","Extra":[1,2]}]})");
    ASSERT_TRUE(committed.transcriptCommittedPayload());
    EXPECT_EQ(committed.transcriptCommittedPayload()->finalText, QStringLiteral("Hello world."));
}

TEST(ServerFrames, UsageSnapshotWithoutSession)
{
    const auto usage
        = ServerStreamMessage::decode(R"({"Case":"UsageSnapshot","Fields":[{"UsedMinutesThisPeriod":12.5}]})");
    ASSERT_TRUE(usage.usageSnapshotPayload());
    EXPECT_EQ(*usage.usageSnapshotPayload(), (UsageSnapshotPayload { std::nullopt, 12.5 }));
}

TEST(ServerFrames, ErrorAndPongCarryText)
{
    const auto error = ServerStreamMessage::decode(R"({"Case":"SessionError","Fields":["quota exceeded"]})");
    EXPECT_EQ(error.messageCase(), ServerStreamMessage::Case::sessionError);
    EXPECT_EQ(error.text(), QStringLiteral("quota exceeded"));
    const auto pong = ServerStreamMessage::decode(R"({"Case":"Pong","Fields":["abc"]})");
    EXPECT_EQ(pong.messageCase(), ServerStreamMessage::Case::pong);
    EXPECT_EQ(pong.text(), QStringLiteral("abc"));
    EXPECT_EQ(pong.sessionID(), std::nullopt);
}

TEST(ServerFrames, SecondFieldNeverChangesTheResult)
{
    const auto pong = ServerStreamMessage::decode(R"({"Case":"Pong","Fields":["abc",5,{"x":null}]})");
    EXPECT_EQ(pong.text(), QStringLiteral("abc"));
    const auto started = ServerStreamMessage::decode(
        R"({"Case":"SessionStarted","Fields":["1b4e28ba-2fa1-11d2-883f-0016d3cca427","not a uuid"]})");
    EXPECT_EQ(started.sessionID(), sessionUUID);
}

// ---- server frames that fail

struct ServerFailureCase
{
    const char* name;
    const char* frame;
    ExpectedFailure failure;
};

class ServerFramesRejected : public ::testing::TestWithParam<ServerFailureCase>
{
};

TEST_P(ServerFramesRejected, WithTheirError)
{
    EXPECT_TRUE(failsWith([&] { ServerStreamMessage::decode(GetParam().frame); }, GetParam().failure));
}

INSTANTIATE_TEST_SUITE_P(Frames, ServerFramesRejected,
    ::testing::Values(ServerFailureCase { "StartedWithNumber", R"({"Case":"SessionStarted","Fields":[5]})",
                          invalidResponse(QStringLiteral("SessionStarted did not include a UUID.")) },
        ServerFailureCase { "StartedWithoutFields", R"({"Case":"SessionStarted"})",
            invalidResponse(QStringLiteral("SessionStarted did not include a UUID.")) },
        ServerFailureCase { "StartedWithBadUUID", R"({"Case":"SessionStarted","Fields":["1b4e28ba"]})",
            invalidResponse(QStringLiteral("SessionStarted did not include a UUID.")) },
        ServerFailureCase { "CompletedWithEmptyFields", R"({"Case":"SessionCompleted","Fields":[]})",
            invalidResponse(QStringLiteral("SessionCompleted did not include a UUID.")) },
        ServerFailureCase { "StateChangedWithoutPayload", R"({"Case":"SessionStateChanged","Fields":[]})",
            invalidResponse(QStringLiteral("SessionStateChanged did not include a payload.")) },
        ServerFailureCase { "PartialWithoutPayload", R"({"Case":"PartialTranscript"})",
            invalidResponse(QStringLiteral("PartialTranscript did not include a payload.")) },
        ServerFailureCase { "FinalWithoutPayload", R"({"Case":"FinalTranscript","Fields":null})",
            invalidResponse(QStringLiteral("FinalTranscript did not include a payload.")) },
        ServerFailureCase { "CommittedWithoutPayload", R"({"Case":"TranscriptCommitted","Fields":[]})",
            invalidResponse(QStringLiteral("TranscriptCommitted did not include a payload.")) },
        ServerFailureCase { "UsageWithoutPayload", R"({"Case":"UsageSnapshot"})",
            invalidResponse(QStringLiteral("UsageSnapshot did not include a payload.")) },
        ServerFailureCase { "ErrorWithEmptyFields", R"({"Case":"SessionError","Fields":[]})",
            invalidResponse(QStringLiteral("SessionError did not include a message.")) },
        ServerFailureCase { "ErrorWithObject", R"({"Case":"SessionError","Fields":[{"Message":"x"}]})",
            invalidResponse(QStringLiteral("SessionError did not include a message.")) },
        ServerFailureCase { "PongWithoutFields", R"({"Case":"Pong"})",
            invalidResponse(QStringLiteral("Pong did not include a value.")) },
        ServerFailureCase { "LowerCasePong", R"({"Case":"pong","Fields":["x"]})",
            invalidResponse(QStringLiteral("Unsupported websocket message: pong")) },
        ServerFailureCase { "UnknownCase", R"({"Case":"Hello"})",
            invalidResponse(QStringLiteral("Unsupported websocket message: Hello")) },
        ServerFailureCase { "StateAsPlainString",
            R"({"Case":"SessionStateChanged","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","State":"Recording"}]})",
            decodingFailure(Kind::typeMismatch) },
        ServerFailureCase { "UsageWithoutMinutes",
            R"({"Case":"UsageSnapshot","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427"}]})",
            decodingFailure(Kind::keyNotFound,
                QStringLiteral("Missing required keys: UsedMinutesThisPeriod, usedMinutesThisPeriod")) },
        ServerFailureCase { "PartialWithoutSession", R"({"Case":"PartialTranscript","Fields":[{"Text":"x"}]})",
            decodingFailure(Kind::keyNotFound, QStringLiteral("Missing required keys: SessionId, sessionId")) },
        ServerFailureCase { "PartialPayloadNotObject", R"({"Case":"PartialTranscript","Fields":["text"]})",
            decodingFailure(Kind::typeMismatch) },
        ServerFailureCase { "FinalTextNull",
            R"({"Case":"FinalTranscript","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427","RawText":"a","FinalText":null,"finalText":"b"}]})",
            decodingFailure(Kind::valueNotFound) },
        ServerFailureCase { "UsageMinutesAsString",
            R"({"Case":"UsageSnapshot","Fields":[{"UsedMinutesThisPeriod":"3"}]})",
            decodingFailure(Kind::typeMismatch) },
        ServerFailureCase { "NotJson", "Case: Pong", decodingFailure(Kind::dataCorrupted) },
        ServerFailureCase { "NotEnvelope", R"(["Pong"])", decodingFailure(Kind::typeMismatch) },
        ServerFailureCase {
            "EnvelopeLowerCaseKeys", R"({"case":"Pong","fields":["x"]})", decodingFailure(Kind::keyNotFound) },
        ServerFailureCase {
            "InvalidUtf8", "{\"Case\":\"Pong\",\"Fields\":[\"\xc3\x28\"]}", decodingFailure(Kind::dataCorrupted) }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ServerFrameLimits, OversizedFrameIsRefused)
{
    const QByteArray frame = R"({"Case":"Pong","Fields":[")" + QByteArray(kMaxWireMessageBytes, 'x') + R"("]})";
    EXPECT_TRUE(failsWith([&] { ServerStreamMessage::decode(frame); }, decodingFailure(Kind::dataCorrupted)));
}

TEST(ServerFrameLimits, DeeplyNestedFieldIsRefused)
{
    const QByteArray frame = R"({"Case":"Pong","Fields":["x",)" + QByteArray(5000, '[') + QByteArray(5000, ']') + "]}";
    EXPECT_TRUE(failsWith([&] { ServerStreamMessage::decode(frame); }, decodingFailure(Kind::dataCorrupted)));
}

// ---- session states

TEST(DictationSessionStates, RawValuesRoundTripExactly)
{
    const std::pair<DictationSessionState, const char*> table[] = {
        { DictationSessionState::starting, "Starting" },
        { DictationSessionState::recording, "Recording" },
        { DictationSessionState::finalizingStt, "FinalizingStt" },
        { DictationSessionState::postProcessing, "PostProcessing" },
        { DictationSessionState::completed, "Completed" },
        { DictationSessionState::completedEmpty, "CompletedEmpty" },
        { DictationSessionState::canceledByClient, "CanceledByClient" },
        { DictationSessionState::failed, "Failed" },
    };
    for (const auto& [state, raw] : table) {
        EXPECT_EQ(rawValue(state), QString::fromLatin1(raw));
        EXPECT_EQ(dictationSessionStateFromRawValue(QString::fromLatin1(raw)), state);
        EXPECT_EQ(toJSON(state), QJsonValue(QString::fromLatin1(raw)));
        EXPECT_EQ(decodeWireValue<DictationSessionState>(
                      json((QByteArray("\"") + raw + "\"").constData()), WireDecoder(QString())),
            state);
    }
    EXPECT_EQ(dictationSessionStateFromRawValue(QStringLiteral("recording")), std::nullopt);
    EXPECT_TRUE(failsWith([] { decodeWireValue<DictationSessionState>(json(R"("Paused")"), WireDecoder(QString())); },
        decodingFailure(Kind::dataCorrupted)));
}

} // namespace
