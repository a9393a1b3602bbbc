#pragma once

#include "base/TessvaleError.h"
#include "platform/auth/SecretStore.h"

namespace tessvale {

// The failure of a keychain operation, with the text the user sees.
class KeychainError : public TessvaleError
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

    bool operator==(const KeychainError& other) const;

private:
    KeychainError(Kind kind, SecretStatus status);

    Kind m_kind;
    SecretStatus m_status;
};

} // namespace tessvale
