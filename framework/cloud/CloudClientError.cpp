#include "cloud/CloudClientError.h"

namespace tessvale {

namespace {

QString describe(CloudClientError::Case errorCase, std::optional<int> statusCode, const QString& message)
{
    switch (errorCase) {
    case CloudClientError::Case::invalidResponse:
        return message;
    case CloudClientError::Case::requestFailed:
        return QStringLiteral("Cloud request failed (") + QString::number(statusCode.value_or(0))
            + QStringLiteral("): ") + message;
    case CloudClientError::Case::invalidBaseURL:
        return QStringLiteral("The configured cloud base URL is invalid.");
    case CloudClientError::Case::missingAPIKey:
        return QStringLiteral("No cloud API key is available.");
    }
    return {};
}

} // namespace

CloudClientError::CloudClientError(Case errorCase, std::optional<int> statusCode, const QString& message)
    : TessvaleError(describe(errorCase, statusCode, message), statusCode)
    , m_case(errorCase)
    , m_message(message)
{
}

CloudClientError CloudClientError::invalidResponse(const QString& message)
{
    return CloudClientError(Case::invalidResponse, std::nullopt, message);
}

CloudClientError CloudClientError::requestFailed(int statusCode, const QString& message)
{
    return CloudClientError(Case::requestFailed, statusCode, message);
}

CloudClientError CloudClientError::invalidBaseURL()
{
    return CloudClientError(Case::invalidBaseURL, std::nullopt, {});
}

CloudClientError CloudClientError::missingAPIKey()
{
    return CloudClientError(Case::missingAPIKey, std::nullopt, {});
}

bool CloudClientError::operator==(const CloudClientError& other) const
{
    return m_case == other.m_case && httpStatusCode() == other.httpStatusCode() && m_message == other.m_message;
}

} // namespace tessvale
