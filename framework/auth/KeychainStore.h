#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "auth/KeychainError.h"
#include "platform/auth/SecretStore.h"

namespace tessvale {

// Short secrets kept as generic-password items of the system keyring, one item per account name,
// all under one service name. Every operation blocks its caller for its keyring calls and may be
// used from any thread.
class KeychainStore final
{
public:
    // The service is the given name, else the bundle identifier, else "com.tessvale.mac". Uses the
    // platform's secret store.
    explicit KeychainStore(std::optional<QString> service = std::nullopt);
    KeychainStore(std::optional<QString> service, std::shared_ptr<SecretStore> security);

    // The service name a store gets from its argument and the bundle's identifier.
    static QString resolvedService(
        const std::optional<QString>& service, const std::optional<QString>& bundleIdentifier);

    const QString& service() const { return m_service; }

    // The stored text, or nothing when the account has no item. Throws KeychainError.
    std::optional<QString> read(const QString& account) const;
    // Creates the item or overwrites its secret in place. Throws KeychainError.
    void save(const QString& value, const QString& account) const;
    // Deletes the item; a missing item is not an error. Throws KeychainError.
    void deleteItem(const QString& account) const;

private:
    SecretItemQuery baseQuery(const QString& account) const;

    QString m_service;
    std::shared_ptr<SecretStore> m_security;
};

} // namespace tessvale
