#pragma once

#include "platform/linux/BackendOnly.h"

#include "platform/auth/SecretStore.h"

namespace tessvale {

// Secret store over the Secret Service (libsecret). Items carry the attributes "service" and
// "account" and the secret as UTF-8 text ("text/plain"); new items go to the default collection.
// Locked items are found too, and unlocked (the keyring may prompt) before they are read or
// deleted. Every call is asynchronous and resumes on the calling thread.
class LibsecretSecretStore final : public SecretStore
{
public:
    QCoro::Task<SecretStatus> add(SecretItemQuery query, QByteArray value, CancelToken token) override;
    QCoro::Task<SecretStatus> update(SecretItemQuery query, QByteArray value, CancelToken token) override;
    QCoro::Task<SecretLookup> copyMatching(SecretItemQuery query, CancelToken token) override;
    QCoro::Task<SecretStatus> deleteItem(SecretItemQuery query, CancelToken token) override;

    // The status that stands for a libsecret / GIO error (domain is the error's GQuark).
    static SecretStatus statusForError(quint32 domain, int code);

    // The schema name the items are written with; lookups match on the attributes only, so items
    // made by other tools with the same attributes are found too.
    static const char* schemaName();
};

} // namespace tessvale
