#pragma once

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "async/OneShot.h"
#include "platform/auth/SecretStore.h"

namespace tessvale {

// A secret store in memory that behaves like the keyring (duplicate on add, not found on update and
// delete) and records every call. A scripted status makes the next calls of one kind fail. While
// held, calls wait (as for an unlock prompt) until released or their token is cancelled.
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

    ~InMemorySecretStore() override;

    QCoro::Task<SecretStatus> add(SecretItemQuery query, QByteArray value, CancelToken token) override;
    QCoro::Task<SecretStatus> update(SecretItemQuery query, QByteArray value, CancelToken token) override;
    QCoro::Task<SecretLookup> copyMatching(SecretItemQuery query, CancelToken token) override;
    QCoro::Task<SecretStatus> deleteItem(SecretItemQuery query, CancelToken token) override;

    // Later calls wait until release(); the calls waiting then go on in order.
    void hold();
    void release();
    std::size_t waitingCalls() const { return m_waiting.size(); }

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
    // Records the call, then waits while held; false when the wait ended by cancellation.
    QCoro::Task<bool> begin(Record record, CancelToken token);

    std::map<Key, QByteArray> m_items;
    std::map<Call, SecretStatus> m_failures;
    std::vector<Key> m_noData;
    std::vector<Record> m_calls;
    bool m_held = false;
    std::vector<OneShot<bool>> m_waiting;
    QObject m_context;
};

} // namespace tessvale
