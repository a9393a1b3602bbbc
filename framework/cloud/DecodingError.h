#pragma once

#include <QString>
#include <QStringList>

#include "base/TessvaleError.h"

namespace tessvale {

// Keys (and array indices written as decimal text) from the top of a document to a value.
using CodingPath = QStringList;

// Why a wire value could not be read. Every decoder in the cloud wire model throws this (or
// CloudClientError where a message text is part of the protocol); none returns a partial record.
class DecodingError : public TessvaleError
{
public:
    enum class Kind {
        typeMismatch,
        valueNotFound,
        keyNotFound,
        dataCorrupted,
    };

    static DecodingError typeMismatch(const CodingPath& path, const QString& description);
    static DecodingError valueNotFound(const CodingPath& path, const QString& description);
    // path is the container's path; key is the (first) key that was looked for.
    static DecodingError keyNotFound(const QString& key, const CodingPath& path, const QString& description);
    static DecodingError dataCorrupted(const CodingPath& path, const QString& description);
    // dataCorrupted for a service URL that the trust check refused; refusal says, in words for the
    // user, which address was refused and why.
    static DecodingError untrustedURL(const CodingPath& path, const QString& description, const QString& refusal);

    Kind kind() const { return m_kind; }
    const CodingPath& codingPath() const { return m_codingPath; }
    // The key of keyNotFound; empty otherwise.
    const QString& key() const { return m_key; }
    // The fixed description texts ("Missing required keys: ...", "Untrusted WebSocket URL.", ...).
    const QString& debugDescription() const { return m_description; }
    // The refusal of untrustedURL; empty for every other error.
    const QString& refusal() const { return m_refusal; }
    // localizedDescription(): the description followed by the path ("... (at user.email)").

private:
    DecodingError(Kind kind, const QString& key, const CodingPath& path, const QString& description);

    Kind m_kind;
    QString m_key;
    CodingPath m_codingPath;
    QString m_description;
    QString m_refusal;
};

} // namespace tessvale
