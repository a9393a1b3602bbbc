#include "support/auth/InMemorySecretStore.h"

#include <algorithm>
#include <utility>

namespace tessvale {

InMemorySecretStore::~InMemorySecretStore()
{
    for (OneShot<bool>& waiting : std::exchange(m_waiting, {}))
        waiting.fail(CancelledError());
}

QCoro::Task<bool> InMemorySecretStore::begin(Record record, CancelToken token)
{
    m_calls.push_back(std::move(record));
    if (!m_held)
        co_return !token.isCancelled();
    OneShot<bool> turn;
    m_waiting.push_back(turn);
    CancelRegistration registration = token.onCancel(&m_context, [turn]() mutable { turn.resolve(false); });
    const bool released = co_await turn;
    co_return released;
}

void InMemorySecretStore::hold()
{
    m_held = true;
}

void InMemorySecretStore::release()
{
    m_held = false;
    for (OneShot<bool>& waiting : std::exchange(m_waiting, {}))
        waiting.resolve(true);
}

QCoro::Task<SecretStatus> InMemorySecretStore::add(SecretItemQuery query, QByteArray value, CancelToken token)
{
    Record record { Call::add, query.service, query.account, value };
    const bool going = co_await begin(std::move(record), token);
    if (!going)
        co_return SecretStatusCode::userCanceled;
    if (auto status = scripted(Call::add))
        co_return *status;
    const Key key { query.service, query.account };
    if (m_items.count(key))
        co_return SecretStatusCode::duplicateItem;
    m_items[key] = value;
    co_return SecretStatusCode::success;
}

QCoro::Task<SecretStatus> InMemorySecretStore::update(SecretItemQuery query, QByteArray value, CancelToken token)
{
    Record record { Call::update, query.service, query.account, value };
    const bool going = co_await begin(std::move(record), token);
    if (!going)
        co_return SecretStatusCode::userCanceled;
    if (auto status = scripted(Call::update))
        co_return *status;
    const auto found = m_items.find(Key { query.service, query.account });
    if (found == m_items.end())
        co_return SecretStatusCode::itemNotFound;
    found->second = value;
    co_return SecretStatusCode::success;
}

QCoro::Task<SecretLookup> InMemorySecretStore::copyMatching(SecretItemQuery query, CancelToken token)
{
    Record record { Call::copyMatching, query.service, query.account, {} };
    const bool going = co_await begin(std::move(record), token);
    if (!going)
        co_return SecretLookup { SecretStatusCode::userCanceled, std::nullopt };
    if (auto status = scripted(Call::copyMatching))
        co_return SecretLookup { *status, std::nullopt };
    const Key key { query.service, query.account };
    if (std::find(m_noData.begin(), m_noData.end(), key) != m_noData.end())
        co_return SecretLookup { SecretStatusCode::success, std::nullopt };
    const auto found = m_items.find(key);
    if (found == m_items.end())
        co_return SecretLookup { SecretStatusCode::itemNotFound, std::nullopt };
    co_return SecretLookup { SecretStatusCode::success, found->second };
}

QCoro::Task<SecretStatus> InMemorySecretStore::deleteItem(SecretItemQuery query, CancelToken token)
{
    Record record { Call::deleteItem, query.service, query.account, {} };
    const bool going = co_await begin(std::move(record), token);
    if (!going)
        co_return SecretStatusCode::userCanceled;
    if (auto status = scripted(Call::deleteItem))
        co_return *status;
    co_return m_items.erase(Key { query.service, query.account }) ? SecretStatusCode::success
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
