#include <gtest/gtest.h>

#include <QString>

#include "cloud/CloudClientError.h"

using namespace tessvale;

namespace {

struct DescriptionCase
{
    const char* name;
    CloudClientError error;
    QString description;
};

class CloudErrorDescription : public ::testing::TestWithParam<DescriptionCase>
{
};

TEST_P(CloudErrorDescription, IsTheUserFacingText)
{
    const DescriptionCase& row = GetParam();
    EXPECT_EQ(row.error.errorDescription(), row.description);
    EXPECT_STREQ(row.error.what(), row.description.toUtf8().constData());
}

INSTANTIATE_TEST_SUITE_P(AllCases, CloudErrorDescription,
    ::testing::Values(DescriptionCase { "InvalidResponseIsItsMessage",
                          CloudClientError::invalidResponse(QStringLiteral("Unable to decode cloud response.")),
                          QStringLiteral("Unable to decode cloud response.") },
        DescriptionCase { "EmptyInvalidResponseIsEmpty", CloudClientError::invalidResponse(QString()), QString() },
        DescriptionCase { "RequestFailedNamesStatusAndMessage",
            CloudClientError::requestFailed(503, QStringLiteral("down")),
            QStringLiteral("Cloud request failed (503): down") },
        DescriptionCase { "RequestFailedKeepsNegativeStatus", CloudClientError::requestFailed(-1, QStringLiteral("x")),
            QStringLiteral("Cloud request failed (-1): x") },
        DescriptionCase { "InvalidBaseURL", CloudClientError::invalidBaseURL(),
            QStringLiteral("The configured cloud base URL is invalid.") },
        DescriptionCase {
            "MissingAPIKey", CloudClientError::missingAPIKey(), QStringLiteral("No cloud API key is available.") }),
    [](const ::testing::TestParamInfo<DescriptionCase>& row) { return std::string(row.param.name); });

TEST(CloudClientErrorMatching, RejectedKeyIsToldByCaseAndStatus)
{
    const CloudClientError error = CloudClientError::requestFailed(401, QStringLiteral("{\"error\":\"unauthorized\"}"));
    EXPECT_EQ(error.errorCase(), CloudClientError::Case::requestFailed);
    EXPECT_EQ(error.statusCode(), 401);
    EXPECT_EQ(error.message(), QStringLiteral("{\"error\":\"unauthorized\"}"));
}

TEST(CloudClientErrorMatching, MessageWithPercentSignsIsNotReinterpreted)
{
    // The message is service text; it must not be taken as a format string.
    const CloudClientError error = CloudClientError::requestFailed(500, QStringLiteral("%1 %2 failed"));
    EXPECT_EQ(error.errorDescription(), QStringLiteral("Cloud request failed (500): %1 %2 failed"));
}

TEST(CloudClientErrorMatching, CanBeCaughtAsStandardException)
{
    try {
        throw CloudClientError::missingAPIKey();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "No cloud API key is available.");
    }
}

} // namespace
