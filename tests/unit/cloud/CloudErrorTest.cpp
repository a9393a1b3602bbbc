#include <gtest/gtest.h>

#include <QString>

#include "async/CancelToken.h"
#include "auth/KeychainError.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/DecodingError.h"

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
    EXPECT_EQ(row.error.localizedDescription(), row.description);
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
    EXPECT_EQ(error.httpStatusCode(), 401);
    EXPECT_EQ(error.message(), QStringLiteral("{\"error\":\"unauthorized\"}"));
}

TEST(CloudClientErrorMatching, MessageWithPercentSignsIsNotReinterpreted)
{
    // The message is service text; it must not be taken as a format string.
    const CloudClientError error = CloudClientError::requestFailed(500, QStringLiteral("%1 %2 failed"));
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("Cloud request failed (500): %1 %2 failed"));
}

TEST(CloudClientErrorMatching, CanBeCaughtAsStandardException)
{
    try {
        throw CloudClientError::missingAPIKey();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "No cloud API key is available.");
    }
}

// One base gives every failure's text and status: the REST answer and the refused stream opening
// alike, the path of a decoding error, and what() of a foreign exception.
TEST(ErrorBase, TextAndStatusOfEveryFailureInOneCall)
{
    struct Row
    {
        std::exception_ptr error;
        QString text;
        std::optional<int> status;
    };
    const Row rows[] = {
        { std::make_exception_ptr(CloudClientError::requestFailed(401, QStringLiteral("no"))),
            QStringLiteral("Cloud request failed (401): no"), 401 },
        { std::make_exception_ptr(CloudTransportError::refusedOpening(401)),
            QStringLiteral("The cloud service refused the streaming connection (HTTP status 401)."), 401 },
        { std::make_exception_ptr(CloudClientError::missingAPIKey()), QStringLiteral("No cloud API key is available."),
            std::nullopt },
        { std::make_exception_ptr(KeychainError::invalidData()), QStringLiteral("The keyring returned invalid data."),
            std::nullopt },
        { std::make_exception_ptr(DecodingError::keyNotFound(
              QStringLiteral("email"), { QStringLiteral("user") }, QStringLiteral("Missing required keys: email"))),
            QStringLiteral("Missing required keys: email (at user)"), std::nullopt },
        { std::make_exception_ptr(CancelledError()), QStringLiteral("The operation was cancelled."), std::nullopt },
        { std::make_exception_ptr(std::runtime_error("boom")), QStringLiteral("boom"), std::nullopt },
        { std::make_exception_ptr(42), QStringLiteral("An unknown error occurred."), std::nullopt },
        { nullptr, QString(), std::nullopt },
    };
    for (const Row& row : rows) {
        EXPECT_EQ(localizedDescription(row.error), row.text);
        EXPECT_EQ(httpStatusCode(row.error), row.status) << row.text.toStdString();
    }
}

} // namespace
