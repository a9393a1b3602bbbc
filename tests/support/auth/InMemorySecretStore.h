#pragma once

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

#include "platform/auth/SecretStore.h"

namespace tessvale {

// A secret store in memory that behaves like the keyring (duplicate on add, not found on update and
// delete) and records every call. A scripted status makes the next calls of one kind fail.
class InMemorySecretStore final : public SecretStore
{
public:
    enum class Call {
        add,
        update,
        copyMatching,
        deleteItem,
    };

    struct Record
    {
        Call call;
        QString service;
        QString account;
        QByteArray value;
    };

    SecretStatus add(const SecretItemQuery& query, const QByteArray& value) override;
    SecretStatus update(const SecretItemQuery& query, const QByteArray& value) override;
    SecretStatus copyMatching(const SecretItemQuery& query, std::optional<QByteArray>* result) override;
    SecretStatus deleteItem(const SecretItemQuery& query) override;

    // Every later call of that kind returns status without touching the items.
    void failWith(Call call, SecretStatus status);
    // Reads of this item succeed but return no data.
    void returnNoDataFor(const QString& service, const QString& account);
    void put(const QString& service, const QString& account, const QByteArray& value);

    std::optional<QByteArray> item(const QString& service, const QString& account) const;
    std::size_t itemCount() const { return m_items.size(); }
    const std::vector<Record>& calls() const { return m_calls; }

private:
    using Key = std::pair<QString, QString>;
    std::optional<SecretStatus> scripted(Call call) const;

    std::map<Key, QByteArray> m_items;
    std::map<Call, SecretStatus> m_failures;
    std::vector<Key> m_noData;
    std::vector<Record> m_calls;
};

} // namespace tessvale
