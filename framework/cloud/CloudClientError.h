#pragma once

#include <stdexcept>

#include <QString>

namespace tessvale {

// The error of every cloud operation. Its description is shown to the user as it stands.
class CloudClientError : public std::exception
{
public:
    enum class Case {
        invalidResponse,
        requestFailed,
        invalidBaseURL,
        missingAPIKey,
    };

    static CloudClientError invalidResponse(const QString& message);
    static CloudClientError requestFailed(int statusCode, const QString& message);
    static CloudClientError invalidBaseURL();
    static CloudClientError missingAPIKey();

    Case errorCase() const { return m_case; }
    // The message of invalidResponse and requestFailed; empty for the other cases.
    const QString& message() const { return m_message; }
    // The HTTP status of requestFailed; 0 for the other cases.
    int statusCode() const { return m_statusCode; }

    QString errorDescription() const;
    const char* what() const noexcept override;

    bool operator==(const CloudClientError& other) const;

private:
    CloudClientError(Case errorCase, int statusCode, const QString& message);

    Case m_case;
    int m_statusCode = 0;
    QString m_message;
    QByteArray m_what;
};

} // namespace tessvale
