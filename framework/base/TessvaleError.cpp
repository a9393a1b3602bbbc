#include "base/TessvaleError.h"

namespace tessvale {

TessvaleError::TessvaleError(const QString& description, std::optional<int> httpStatusCode)
    : m_description(description)
    , m_httpStatusCode(httpStatusCode)
    , m_what(description.toUtf8())
{
}

TessvaleError::TessvaleError(const QString& description, const QString& logText)
    : m_description(description)
    , m_what(logText.toUtf8())
{
}

QString localizedDescription(const std::exception_ptr& error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const TessvaleError& ours) {
        return ours.localizedDescription();
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

std::optional<int> httpStatusCode(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const TessvaleError& ours) {
        return ours.httpStatusCode();
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tessvale
