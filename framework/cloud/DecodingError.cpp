#include "cloud/DecodingError.h"

namespace tessvale {

namespace {

QString withPath(const QString& description, const CodingPath& path)
{
    const QString where = path.isEmpty() ? QStringLiteral("<root>") : path.join(QLatin1Char('.'));
    return QStringLiteral("%1 (at %2)").arg(description, where);
}

} // namespace

DecodingError::DecodingError(Kind kind, const QString& key, const CodingPath& path, const QString& description)
    : TessvaleError(withPath(description, path))
    , m_kind(kind)
    , m_key(key)
    , m_codingPath(path)
    , m_description(description)
{
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

} // namespace tessvale
