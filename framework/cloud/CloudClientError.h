#pragma once

#include <QString>

#include "base/TessvaleError.h"

namespace tessvale {

// The error of every cloud operation. Its description is shown to the user as it stands.
class CloudClientError : public TessvaleError
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
    // httpStatusCode(): the status of requestFailed; absent for the other cases.

    bool operator==(const CloudClientError& other) const;

private:
    CloudClientError(Case errorCase, std::optional<int> statusCode, const QString& message);

    Case m_case;
    QString m_message;
};

} // namespace tessvale
