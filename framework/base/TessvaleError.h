#pragma once

#include <exception>
#include <optional>

#include <QByteArray>
#include <QString>

namespace tessvale {

// The base of every error we throw: the text the user sees and, for an answer of the service, its HTTP
// status. A caller that only shows or classifies a failure catches this, never each kind in turn.
class TessvaleError : public std::exception
{
public:
    // The text the user sees.
    const QString& localizedDescription() const { return m_description; }
    // The HTTP status the service answered with; absent for every other failure.
    std::optional<int> httpStatusCode() const { return m_httpStatusCode; }
    // The description, or the longer text for the logs that a kind gives instead.
    const char* what() const noexcept override { return m_what.constData(); }

protected:
    explicit TessvaleError(const QString& description, std::optional<int> httpStatusCode = std::nullopt);
    TessvaleError(const QString& description, const QString& logText);

private:
    QString m_description;
    std::optional<int> m_httpStatusCode;
    QByteArray m_what;
};

// The text a failure shows the user: our error's description, else the exception's own text. A null
// error gives an empty text.
QString localizedDescription(const std::exception_ptr& error);

// The HTTP status a failure carries; absent for a null error and for every failure that is no answer
// of the service.
std::optional<int> httpStatusCode(const std::exception_ptr& error);

} // namespace tessvale
