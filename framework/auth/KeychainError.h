#pragma once

#include <exception>

#include <QByteArray>
#include <QString>

#include "platform/auth/SecretStore.h"

namespace tessvale {

// The failure of a keychain operation, with the text the user sees.
class KeychainError : public std::exception
{
public:
    enum class Kind {
        unexpectedStatus,
        invalidData,
    };

    static KeychainError unexpectedStatus(SecretStatus status);
    static KeychainError invalidData();

    Kind kind() const { return m_kind; }
    // The store's status; 0 for invalidData.
    SecretStatus status() const { return m_status; }

    QString description() const;
    const char* what() const noexcept override;

    bool operator==(const KeychainError& other) const;

private:
    KeychainError(Kind kind, SecretStatus status);

    Kind m_kind;
    SecretStatus m_status;
    QByteArray m_what;
};

} // namespace tessvale
