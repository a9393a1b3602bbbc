#include "platform/linux/auth/LibsecretSecretStore.h"

#include "base/Logging.h"
#include "platform/linux/auth/GAsyncAwait.h"

// GIO names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace tessvale {

namespace {

using glib::awaitAsync;
using glib::ObjectRef;
using AsyncResult = ObjectRef<GAsyncResult>;

const SecretSchema* itemSchema()
{
    static const SecretSchema schema = {
        LibsecretSecretStore::schemaName(),
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
    };
    return &schema;
}

// Owns a GError and turns it into a status, logging what went wrong (never the secret).
class ErrorHolder
{
public:
    ErrorHolder() = default;
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
    ~ErrorHolder()
    {
        if (m_error)
            g_error_free(m_error);
    }

    GError** out() { return &m_error; }
    bool isSet() const { return m_error != nullptr; }

    SecretStatus status(const char* operation, const SecretItemQuery& query) const
    {
        const SecretStatus status = LibsecretSecretStore::statusForError(m_error->domain, m_error->code);
        qCWarning(lcKeychain).noquote() << "Secret Service" << operation << "failed for account" << query.account
                                        << "status" << status << ":" << QString::fromUtf8(m_error->message);
        return status;
    }

private:
    GError* m_error = nullptr;
};

// The query's attributes as libsecret takes them.
class Attributes
{
public:
    explicit Attributes(const SecretItemQuery& query)
    {
        const QByteArray service = query.service.toUtf8();
        const QByteArray account = query.account.toUtf8();
        m_table = secret_attributes_build(
            itemSchema(), "service", service.constData(), "account", account.constData(), nullptr);
    }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    ~Attributes() { g_hash_table_unref(m_table); }

    GHashTable* table() const { return m_table; }

private:
    GHashTable* m_table = nullptr;
};

// The items a search found, locked ones included, each holding a reference.
class ItemList
{
public:
    ItemList() = default;
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
    ~ItemList() { g_list_free_full(m_items, g_object_unref); }

    void reset(GList* items)
    {
        g_list_free_full(m_items, g_object_unref);
        m_items = items;
    }
    GList* get() const { return m_items; }
    bool isEmpty() const { return m_items == nullptr; }

private:
    GList* m_items = nullptr;
};

// Connects to the Secret Service and finds every item with the query's attributes, locked or not.
QCoro::Task<SecretStatus> findItems(
    const SecretItemQuery& query, const CancelToken& token, ObjectRef<SecretService>* service, ItemList* items)
{
    ErrorHolder error;
    const glib::AsyncStart start = [](GAsyncReadyCallback callback, gpointer data) {
        secret_service_get(SECRET_SERVICE_NONE, nullptr, callback, data);
    };
    QCoro::Task<AsyncResult> connecting = awaitAsync(start, token);
    AsyncResult connected = co_await std::move(connecting);
    service->reset(secret_service_get_finish(connected.get(), error.out()));
    if (error.isSet())
        co_return error.status("connect", query);

    const Attributes attributes(query);
    SecretService* connection = service->get();
    const glib::AsyncStart search = [connection, &attributes](GAsyncReadyCallback callback, gpointer data) {
        secret_service_search(connection, itemSchema(), attributes.table(), SECRET_SEARCH_ALL, nullptr, callback, data);
    };
    QCoro::Task<AsyncResult> searching = awaitAsync(search, token);
    AsyncResult found = co_await std::move(searching);
    items->reset(secret_service_search_finish(connection, found.get(), error.out()));
    if (error.isSet())
        co_return error.status("search", query);
    co_return SecretStatusCode::success;
}

// Unlocks the locked ones among items; the keyring may prompt for its password meanwhile. Nothing
// unlocked means the prompt was dismissed; the keyring reports a prompt it could not show at all
// (no prompter in the session) in the same way.
QCoro::Task<SecretStatus> unlockLocked(
    const SecretItemQuery& query, SecretService* service, GList* items, const CancelToken& token)
{
    GList* locked = nullptr;
    for (GList* item = items; item; item = item->next) {
        if (secret_item_get_locked(SECRET_ITEM(item->data)))
            locked = g_list_append(locked, item->data);
    }
    if (!locked)
        co_return SecretStatusCode::success;
    const std::unique_ptr<GList, decltype(&g_list_free)> lockedList(locked, &g_list_free);

    qCInfo(lcKeychain).noquote() << "The keyring item for account" << query.account << "is locked; unlocking it.";
    ErrorHolder error;
    const glib::AsyncStart start = [service, locked](GAsyncReadyCallback callback, gpointer data) {
        secret_service_unlock(service, locked, nullptr, callback, data);
    };
    QCoro::Task<AsyncResult> call = awaitAsync(start, token);
    AsyncResult result = co_await std::move(call);
    GList* unlocked = nullptr;
    const gint count = secret_service_unlock_finish(service, result.get(), &unlocked, error.out());
    g_list_free_full(unlocked, g_object_unref);
    if (error.isSet())
        co_return error.status("unlock", query);
    if (count <= 0) {
        const QString reason
            = QStringLiteral("The keyring stayed locked for account %1: the unlock prompt was dismissed or could "
                             "not be shown.")
                  .arg(query.account);
        qCWarning(lcKeychain).noquote() << reason;
        co_return SecretStatusCode::userCanceled;
    }
    co_return SecretStatusCode::success;
}

// The query's items, every one unlocked; itemNotFound when there are none. A refused unlock is an
// error, never "absent" or "deleted".
QCoro::Task<SecretStatus> findUnlockedItems(
    const SecretItemQuery& query, const CancelToken& token, ObjectRef<SecretService>* service, ItemList* items)
{
    QCoro::Task<SecretStatus> finding = findItems(query, token, service, items);
    const SecretStatus found = co_await std::move(finding);
    if (found != SecretStatusCode::success)
        co_return found;
    if (items->isEmpty())
        co_return SecretStatusCode::itemNotFound;
    QCoro::Task<SecretStatus> unlocking = unlockLocked(query, service->get(), items->get(), token);
    const SecretStatus unlocked = co_await std::move(unlocking);
    co_return unlocked;
}

QCoro::Task<SecretStatus> storeItem(
    const SecretItemQuery& query, SecretService* service, const QByteArray& value, const CancelToken& token)
{
    const Attributes attributes(query);
    const QByteArray label = QStringLiteral("%1 (%2)").arg(query.service, query.account).toUtf8();
    const std::unique_ptr<SecretValue, decltype(&secret_value_unref)> owned(
        secret_value_new(value.constData(), value.size(), "text/plain"), &secret_value_unref);
    SecretValue* secret = owned.get();
    ErrorHolder error;
    const glib::AsyncStart start = [service, &attributes, &label, secret](GAsyncReadyCallback callback, gpointer data) {
        secret_service_store(service, itemSchema(), attributes.table(), SECRET_COLLECTION_DEFAULT, label.constData(),
            secret, nullptr, callback, data);
    };
    QCoro::Task<AsyncResult> call = awaitAsync(start, token);
    AsyncResult result = co_await std::move(call);
    const gboolean stored = secret_service_store_finish(service, result.get(), error.out());
    if (error.isSet())
        co_return error.status("store", query);
    if (!stored) {
        // Refused without a reason: the user dismissed the unlock prompt.
        qCWarning(lcKeychain).noquote() << "Secret Service store was refused for account" << query.account;
        co_return SecretStatusCode::userCanceled;
    }
    co_return SecretStatusCode::success;
}

} // namespace

const char* LibsecretSecretStore::schemaName()
{
    return "com.tessvale.mac.GenericPassword";
}

QCoro::Task<SecretStatus> LibsecretSecretStore::add(SecretItemQuery query, QByteArray value, CancelToken token)
{
    ObjectRef<SecretService> service;
    ItemList items;
    QCoro::Task<SecretStatus> finding = findItems(query, token, &service, &items);
    const SecretStatus found = co_await std::move(finding);
    if (found != SecretStatusCode::success)
        co_return found;
    if (!items.isEmpty())
        co_return SecretStatusCode::duplicateItem;
    QCoro::Task<SecretStatus> storing = storeItem(query, service.get(), value, token);
    const SecretStatus stored = co_await std::move(storing);
    co_return stored;
}

QCoro::Task<SecretStatus> LibsecretSecretStore::update(SecretItemQuery query, QByteArray value, CancelToken token)
{
    ObjectRef<SecretService> service;
    ItemList items;
    // Unlocked first, so that a dismissed prompt reads as it does for a read or a delete.
    QCoro::Task<SecretStatus> finding = findUnlockedItems(query, token, &service, &items);
    const SecretStatus unlocked = co_await std::move(finding);
    if (unlocked != SecretStatusCode::success)
        co_return unlocked;
    // Storing with the same attributes replaces the existing item's secret.
    QCoro::Task<SecretStatus> storing = storeItem(query, service.get(), value, token);
    const SecretStatus stored = co_await std::move(storing);
    co_return stored;
}

QCoro::Task<SecretLookup> LibsecretSecretStore::copyMatching(SecretItemQuery query, CancelToken token)
{
    ObjectRef<SecretService> service;
    ItemList items;
    QCoro::Task<SecretStatus> finding = findItems(query, token, &service, &items);
    const SecretStatus found = co_await std::move(finding);
    if (found != SecretStatusCode::success)
        co_return SecretLookup { found, std::nullopt };
    if (items.isEmpty())
        co_return SecretLookup { SecretStatusCode::itemNotFound, std::nullopt };

    // An unlocked item is read as it is; otherwise the first one is unlocked.
    SecretItem* item = SECRET_ITEM(items.get()->data);
    for (GList* candidate = items.get(); candidate; candidate = candidate->next) {
        if (!secret_item_get_locked(SECRET_ITEM(candidate->data))) {
            item = SECRET_ITEM(candidate->data);
            break;
        }
    }
    GList single { item, nullptr, nullptr };
    QCoro::Task<SecretStatus> unlocking = unlockLocked(query, service.get(), &single, token);
    const SecretStatus unlocked = co_await std::move(unlocking);
    if (unlocked != SecretStatusCode::success)
        co_return SecretLookup { unlocked, std::nullopt };

    ErrorHolder error;
    const glib::AsyncStart start = [item](GAsyncReadyCallback callback, gpointer data) {
        secret_item_load_secret(item, nullptr, callback, data);
    };
    QCoro::Task<AsyncResult> loading = awaitAsync(start, token);
    AsyncResult loaded = co_await std::move(loading);
    secret_item_load_secret_finish(item, loaded.get(), error.out());
    if (error.isSet())
        co_return SecretLookup { error.status("read", query), std::nullopt };
    SecretValue* secret = secret_item_get_secret(item);
    if (!secret)
        co_return SecretLookup { SecretStatusCode::success, std::nullopt };
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    SecretLookup lookup { SecretStatusCode::success,
        bytes ? std::optional<QByteArray>(QByteArray(bytes, qsizetype(length))) : std::nullopt };
    secret_value_unref(secret);
    co_return lookup;
}

QCoro::Task<SecretStatus> LibsecretSecretStore::deleteItem(SecretItemQuery query, CancelToken token)
{
    ObjectRef<SecretService> service;
    ItemList items;
    // A locked item cannot be deleted: unlock first, so that a refusal is an error, never "deleted".
    QCoro::Task<SecretStatus> finding = findUnlockedItems(query, token, &service, &items);
    const SecretStatus unlocked = co_await std::move(finding);
    if (unlocked != SecretStatusCode::success)
        co_return unlocked;

    for (GList* entry = items.get(); entry; entry = entry->next) {
        SecretItem* item = SECRET_ITEM(entry->data);
        ErrorHolder error;
        const glib::AsyncStart start = [item](GAsyncReadyCallback callback, gpointer data) {
            secret_item_delete(item, nullptr, callback, data);
        };
        QCoro::Task<AsyncResult> deleting = awaitAsync(start, token);
        AsyncResult deleted = co_await std::move(deleting);
        secret_item_delete_finish(item, deleted.get(), error.out());
        if (error.isSet())
            co_return error.status("delete", query);
    }
    co_return SecretStatusCode::success;
}

SecretStatus LibsecretSecretStore::statusForError(quint32 domain, int code)
{
    if (domain == G_IO_ERROR && code == G_IO_ERROR_CANCELLED)
        return SecretStatusCode::userCanceled;
    if (domain == SECRET_ERROR) {
        switch (code) {
        case SECRET_ERROR_IS_LOCKED:
            return SecretStatusCode::interactionNotAllowed;
        case SECRET_ERROR_ALREADY_EXISTS:
            return SecretStatusCode::duplicateItem;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return SecretStatusCode::itemNotFound;
        default:
            return SecretStatusCode::internalError;
        }
    }
    if (domain == G_DBUS_ERROR) {
        switch (code) {
        case G_DBUS_ERROR_ACCESS_DENIED:
        case G_DBUS_ERROR_AUTH_FAILED:
            return SecretStatusCode::authFailed;
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_NO_NETWORK:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_FILE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_FAILED:
            return SecretStatusCode::notAvailable;
        default:
            return SecretStatusCode::internalError;
        }
    }
    // No session bus, an unreachable bus address, a connection that closed: no Secret Service.
    if (domain == G_IO_ERROR)
        return SecretStatusCode::notAvailable;
    return SecretStatusCode::internalError;
}

} // namespace tessvale
