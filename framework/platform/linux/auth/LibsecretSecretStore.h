#pragma once

#include "platform/auth/SecretStore.h"

namespace tessvale {

// Secret store over the Secret Service (libsecret). Items carry the attributes "service" and
// "account" and the secret as UTF-8 text ("text/plain"); new items go to the default collection.
// Every call is a blocking D-Bus round trip on the calling thread.
class LibsecretSecretStore final : public SecretStore
{
public:
    SecretStatus add(const SecretItemQuery& query, const QByteArray& value) override;
    SecretStatus update(const SecretItemQuery& query, const QByteArray& value) override;
    SecretStatus copyMatching(const SecretItemQuery& query, std::optional<QByteArray>* result) override;
    SecretStatus deleteItem(const SecretItemQuery& query) override;

    // The status that stands for a libsecret / GIO error (domain is the error's GQuark).
    static SecretStatus statusForError(quint32 domain, int code);

    // The schema name the items are written with; lookups match on the attributes only, so items
    // made by other tools with the same attributes are found too.
    static const char* schemaName();
};

} // namespace tessvale
