#pragma once

#include <memory>
#include <optional>

#include <QString>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "auth/KeychainError.h"
#include "platform/auth/SecretStore.h"

namespace tessvale {

// Short secrets kept as generic-password items of the system keyring, one item per account name,
// all under one service name. The item operations are awaited, never blocking their caller while the
// keyring waits for the user to unlock it; each resumes on the thread that started it (one with a
// running event loop). A cancelled token ends an operation with CancelledError. An operation keeps
// what it needs, so the store may go away while one is pending.
class KeychainStore final
{
public:
    // The service is the given name, else the bundle identifier, else "com.tessvale.mac".
    KeychainStore(std::optional<QString> service, std::shared_ptr<SecretStore> security);

    // The service name a store gets from its argument and the bundle's identifier.
    static QString resolvedService(
        const std::optional<QString>& service, const std::optional<QString>& bundleIdentifier);

    const QString& service() const { return m_service; }

    // The stored text, or nothing when the account has no item. A locked item is unlocked first;
    // one that stays locked is a KeychainError, never "no item". Throws KeychainError.
    QCoro::Task<std::optional<QString>> read(QString account, CancelToken token = {}) const;
    // Creates the item or overwrites its secret in place. Throws KeychainError.
    QCoro::Task<> save(QString value, QString account, CancelToken token = {}) const;
    // Deletes the item; a missing item is not an error, one that stays locked is. Throws KeychainError.
    QCoro::Task<> deleteItem(QString account, CancelToken token = {}) const;

private:
    SecretItemQuery baseQuery(const QString& account) const;

    QString m_service;
    std::shared_ptr<SecretStore> m_security;
};

} // namespace tessvale
