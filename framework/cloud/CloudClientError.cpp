#include "cloud/CloudClientError.h"

namespace tessvale {

CloudClientError::CloudClientError(Case errorCase, int statusCode, const QString& message)
    : m_case(errorCase)
    , m_statusCode(statusCode)
    , m_message(message)
    , m_what(errorDescription().toUtf8())
{
}

CloudClientError CloudClientError::invalidResponse(const QString& message)
{
    return CloudClientError(Case::invalidResponse, 0, message);
}

CloudClientError CloudClientError::requestFailed(int statusCode, const QString& message)
{
    return CloudClientError(Case::requestFailed, statusCode, message);
}

CloudClientError CloudClientError::invalidBaseURL()
{
    return CloudClientError(Case::invalidBaseURL, 0, {});
}

CloudClientError CloudClientError::missingAPIKey()
{
    return CloudClientError(Case::missingAPIKey, 0, {});
}

QString CloudClientError::errorDescription() const
{
    switch (m_case) {
    case Case::invalidResponse:
        return m_message;
    case Case::requestFailed:
        return QStringLiteral("Cloud request failed (") + QString::number(m_statusCode) + QStringLiteral("): ")
            + m_message;
    case Case::invalidBaseURL:
        return QStringLiteral("The configured cloud base URL is invalid.");
    case Case::missingAPIKey:
        return QStringLiteral("No cloud API key is available.");
    }
    return {};
}

const char* CloudClientError::what() const noexcept
{
    return m_what.constData();
}

bool CloudClientError::operator==(const CloudClientError& other) const
{
    return m_case == other.m_case && m_statusCode == other.m_statusCode && m_message == other.m_message;
}

} // namespace tessvale
