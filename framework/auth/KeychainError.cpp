#include "auth/KeychainError.h"

namespace tessvale {

namespace {

QString describe(KeychainError::Kind kind, SecretStatus status)
{
    if (kind == KeychainError::Kind::invalidData)
        return QStringLiteral("The keyring returned invalid data.");
    switch (status) {
    case SecretStatusCode::interactionNotAllowed:
    case SecretStatusCode::authFailed:
        return QStringLiteral(
            "Tessvale could not access secure keyring storage. Allow keyring access and try signing in again.");
    case SecretStatusCode::userCanceled:
        return QStringLiteral(
            "Keyring access was canceled. Allow Tessvale to access secure keyring storage and try again.");
    case SecretStatusCode::notAvailable:
        // No Secret Service on the session bus: say what is missing rather than a bare number.
        return QStringLiteral("Tessvale could not reach secure keyring storage. Make sure a keyring service (Secret "
                              "Service) is running and try again.");
    default:
        return QStringLiteral("Keyring error: ") + QString::number(status);
    }
}

} // namespace

KeychainError::KeychainError(Kind kind, SecretStatus status)
    : TessvaleError(describe(kind, status))
    , m_kind(kind)
    , m_status(status)
{
}

KeychainError KeychainError::unexpectedStatus(SecretStatus status)
{
    return KeychainError(Kind::unexpectedStatus, status);
}

KeychainError KeychainError::invalidData()
{
    return KeychainError(Kind::invalidData, 0);
}

bool KeychainError::operator==(const KeychainError& other) const
{
    return m_kind == other.m_kind && m_status == other.m_status;
}

} // namespace tessvale
