#include "cloud/DecodingError.h"

namespace tessvale {

DecodingError::DecodingError(Kind kind, const QString& key, const CodingPath& path, const QString& description)
    : m_kind(kind)
    , m_key(key)
    , m_codingPath(path)
    , m_description(description)
{
    const QString where = path.isEmpty() ? QStringLiteral("<root>") : path.join(QLatin1Char('.'));
    m_what = QStringLiteral("%1 (at %2)").arg(description, where).toUtf8();
}

DecodingError DecodingError::typeMismatch(const CodingPath& path, const QString& description)
{
    return DecodingError(Kind::typeMismatch, {}, path, description);
}

DecodingError DecodingError::valueNotFound(const CodingPath& path, const QString& description)
{
    return DecodingError(Kind::valueNotFound, {}, path, description);
}

DecodingError DecodingError::keyNotFound(const QString& key, const CodingPath& path, const QString& description)
{
    return DecodingError(Kind::keyNotFound, key, path, description);
}

DecodingError DecodingError::dataCorrupted(const CodingPath& path, const QString& description)
{
    return DecodingError(Kind::dataCorrupted, {}, path, description);
}

DecodingError DecodingError::untrustedURL(const CodingPath& path, const QString& description, const QString& refusal)
{
    DecodingError error(Kind::dataCorrupted, {}, path, description);
    error.m_refusal = refusal;
    return error;
}

const char* DecodingError::what() const noexcept
{
    return m_what.constData();
}

} // namespace tessvale
