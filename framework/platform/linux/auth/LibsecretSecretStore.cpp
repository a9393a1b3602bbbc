#include "platform/linux/auth/LibsecretSecretStore.h"

#include "system/Logging.h"

// GIO names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace tessvale {

namespace {

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

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

// Whether an item with the query's attributes exists, without unlocking or reading its secret.
SecretStatus itemExists(const SecretItemQuery& query, bool* exists)
{
    ErrorHolder error;
    const QByteArray service = utf8(query.service);
    const QByteArray account = utf8(query.account);
    GList* items = secret_password_search_sync(itemSchema(), SECRET_SEARCH_NONE, nullptr, error.out(), "service",
        service.constData(), "account", account.constData(), nullptr);
    if (error.isSet())
        return error.status("search", query);
    *exists = items != nullptr;
    g_list_free_full(items, g_object_unref);
    return SecretStatusCode::success;
}

SecretStatus storeItem(const SecretItemQuery& query, const QByteArray& value, const char* operation)
{
    ErrorHolder error;
    const QByteArray service = utf8(query.service);
    const QByteArray account = utf8(query.account);
    const QByteArray label = utf8(QStringLiteral("%1 (%2)").arg(query.service, query.account));
    SecretValue* secret = secret_value_new(value.constData(), value.size(), "text/plain");
    const gboolean stored
        = secret_password_store_binary_sync(itemSchema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret, nullptr,
            error.out(), "service", service.constData(), "account", account.constData(), nullptr);
    secret_value_unref(secret);
    if (error.isSet())
        return error.status(operation, query);
    if (!stored) {
        // Refused without a reason: the user dismissed the unlock prompt.
        qCWarning(lcKeychain).noquote() << "Secret Service" << operation << "was refused for account" << query.account;
        return SecretStatusCode::userCanceled;
    }
    return SecretStatusCode::success;
}

} // namespace

std::shared_ptr<SecretStore> makePlatformSecretStore()
{
    return std::make_shared<LibsecretSecretStore>();
}

const char* LibsecretSecretStore::schemaName()
{
    return "com.tessvale.mac.GenericPassword";
}

SecretStatus LibsecretSecretStore::add(const SecretItemQuery& query, const QByteArray& value)
{
    bool exists = false;
    const SecretStatus status = itemExists(query, &exists);
    if (status != SecretStatusCode::success)
        return status;
    if (exists)
        return SecretStatusCode::duplicateItem;
    return storeItem(query, value, "add");
}

SecretStatus LibsecretSecretStore::update(const SecretItemQuery& query, const QByteArray& value)
{
    bool exists = false;
    const SecretStatus status = itemExists(query, &exists);
    if (status != SecretStatusCode::success)
        return status;
    if (!exists)
        return SecretStatusCode::itemNotFound;
    // Storing with the same attributes replaces the existing item's secret.
    return storeItem(query, value, "update");
}

SecretStatus LibsecretSecretStore::copyMatching(const SecretItemQuery& query, std::optional<QByteArray>* result)
{
    ErrorHolder error;
    const QByteArray service = utf8(query.service);
    const QByteArray account = utf8(query.account);
    SecretValue* secret = secret_password_lookup_binary_sync(
        itemSchema(), nullptr, error.out(), "service", service.constData(), "account", account.constData(), nullptr);
    if (error.isSet())
        return error.status("lookup", query);
    if (!secret)
        return SecretStatusCode::itemNotFound;
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    if (result)
        *result = bytes ? std::optional<QByteArray>(QByteArray(bytes, qsizetype(length))) : std::nullopt;
    secret_value_unref(secret);
    return SecretStatusCode::success;
}

SecretStatus LibsecretSecretStore::deleteItem(const SecretItemQuery& query)
{
    ErrorHolder error;
    const QByteArray service = utf8(query.service);
    const QByteArray account = utf8(query.account);
    const gboolean removed = secret_password_clear_sync(
        itemSchema(), nullptr, error.out(), "service", service.constData(), "account", account.constData(), nullptr);
    if (error.isSet())
        return error.status("delete", query);
    return removed ? SecretStatusCode::success : SecretStatusCode::itemNotFound;
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
