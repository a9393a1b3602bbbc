#include <gtest/gtest.h>

#include "cloud/ServerStreamMessage.h"
#include "cloud/WireDecoding.h"

using namespace tessvale;

namespace {

const QByteArray pong = R"({"Case":"Pong","Fields":["1b4e28ba-2fa1-11d2-883f-0016d3cca427",2]})";

// A valid frame padded with trailing white space to exactly size bytes.
QByteArray pongOfSize(qsizetype size)
{
    return pong + QByteArray(size - pong.size(), ' ');
}

QByteArray nestedArrays(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

struct LimitCase
{
    const char* name;
    QByteArray document;
    bool accepted;
};

class WireLimits : public ::testing::TestWithParam<LimitCase>
{
};

TEST_P(WireLimits, RefusesOnlyPastTheLimit)
{
    const LimitCase& row = GetParam();
    if (row.accepted) {
        EXPECT_NO_THROW(parseWireJSON(row.document));
        return;
    }
    try {
        parseWireJSON(row.document);
        ADD_FAILURE() << "accepted";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
}

INSTANTIATE_TEST_SUITE_P(SizeAndNesting, WireLimits,
    ::testing::Values(LimitCase { "OneMebibyte", pongOfSize(1024 * 1024), true },
        LimitCase { "OneByteOver", pongOfSize(1024 * 1024 + 1), false },
        LimitCase { "SixtyFourLevels", nestedArrays(64), true },
        LimitCase { "SixtyFiveLevels", nestedArrays(65), false },
        LimitCase { "BracketsInsideStringsDoNotCount",
            "[\"" + QByteArray(100, '[') + "\\\"" + QByteArray(100, '{') + "\"]", true },
        LimitCase { "DeepObjects", QByteArray("{\"a\":").repeated(65) + "1" + QByteArray(65, '}'), false }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(WireLimits, StreamFramesGoThroughTheSameLimits)
{
    EXPECT_NO_THROW(ServerStreamMessage::decode(pongOfSize(1024 * 1024)));
    EXPECT_THROW(ServerStreamMessage::decode(pongOfSize(1024 * 1024 + 1)), DecodingError);
}

} // namespace
