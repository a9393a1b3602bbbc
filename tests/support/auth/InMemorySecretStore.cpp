#include "support/auth/InMemorySecretStore.h"

#include <algorithm>

namespace tessvale {

SecretStatus InMemorySecretStore::add(const SecretItemQuery& query, const QByteArray& value)
{
    m_calls.push_back({ Call::add, query.service, query.account, value });
    if (auto status = scripted(Call::add))
        return *status;
    const Key key { query.service, query.account };
    if (m_items.count(key))
        return SecretStatusCode::duplicateItem;
    m_items[key] = value;
    return SecretStatusCode::success;
}

SecretStatus InMemorySecretStore::update(const SecretItemQuery& query, const QByteArray& value)
{
    m_calls.push_back({ Call::update, query.service, query.account, value });
    if (auto status = scripted(Call::update))
        return *status;
    const auto found = m_items.find(Key { query.service, query.account });
    if (found == m_items.end())
        return SecretStatusCode::itemNotFound;
    found->second = value;
    return SecretStatusCode::success;
}

SecretStatus InMemorySecretStore::copyMatching(const SecretItemQuery& query, std::optional<QByteArray>* result)
{
    m_calls.push_back({ Call::copyMatching, query.service, query.account, {} });
    if (auto status = scripted(Call::copyMatching))
        return *status;
    const Key key { query.service, query.account };
    if (std::find(m_noData.begin(), m_noData.end(), key) != m_noData.end()) {
        *result = std::nullopt;
        return SecretStatusCode::success;
    }
    const auto found = m_items.find(key);
    if (found == m_items.end())
        return SecretStatusCode::itemNotFound;
    *result = found->second;
    return SecretStatusCode::success;
}

SecretStatus InMemorySecretStore::deleteItem(const SecretItemQuery& query)
{
    m_calls.push_back({ Call::deleteItem, query.service, query.account, {} });
    if (auto status = scripted(Call::deleteItem))
        return *status;
    return m_items.erase(Key { query.service, query.account }) ? SecretStatusCode::success
                                                               : SecretStatusCode::itemNotFound;
}

void InMemorySecretStore::failWith(Call call, SecretStatus status)
{
    m_failures[call] = status;
}

void InMemorySecretStore::returnNoDataFor(const QString& service, const QString& account)
{
    m_noData.push_back(Key { service, account });
}

void InMemorySecretStore::put(const QString& service, const QString& account, const QByteArray& value)
{
    m_items[Key { service, account }] = value;
}

std::optional<QByteArray> InMemorySecretStore::item(const QString& service, const QString& account) const
{
    const auto found = m_items.find(Key { service, account });
    if (found == m_items.end())
        return std::nullopt;
    return found->second;
}

std::optional<SecretStatus> InMemorySecretStore::scripted(Call call) const
{
    const auto found = m_failures.find(call);
    if (found == m_failures.end())
        return std::nullopt;
    return found->second;
}

} // namespace tessvale
