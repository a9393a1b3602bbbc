#include "auth/KeychainStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include "base/Logging.h"

namespace tessvale {

namespace {

const QString kFallbackService = QStringLiteral("com.tessvale.mac");

std::optional<QString> bundleIdentifier()
{
    QFile file(QStringLiteral(":/tessvale/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonValue identifier
        = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("CFBundleIdentifier"));
    if (!identifier.isString())
        return std::nullopt;
    return identifier.toString();
}

std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

KeychainStore::KeychainStore(std::optional<QString> service, std::shared_ptr<SecretStore> security)
    : m_service(resolvedService(service, service ? std::nullopt : bundleIdentifier()))
    , m_security(std::move(security))
{
}

QString KeychainStore::resolvedService(
    const std::optional<QString>& service, const std::optional<QString>& bundleIdentifier)
{
    if (service)
        return *service;
    if (bundleIdentifier && !bundleIdentifier->isEmpty())
        return *bundleIdentifier;
    return kFallbackService;
}

SecretItemQuery KeychainStore::baseQuery(const QString& account) const
{
    return SecretItemQuery { m_service, account };
}

// Each operation copies the backend and the query before its first await, so nothing of the store
// is touched after it.
QCoro::Task<std::optional<QString>> KeychainStore::read(QString account, CancelToken token) const
{
    const std::shared_ptr<SecretStore> security = m_security;
    QCoro::Task<SecretLookup> lookupCall = security->copyMatching(baseQuery(account), token);
    const SecretLookup lookup = co_await std::move(lookupCall);
    token.throwIfCancelled();
    if (lookup.status == SecretStatusCode::itemNotFound)
        co_return std::nullopt;
    if (lookup.status != SecretStatusCode::success)
        throw KeychainError::unexpectedStatus(lookup.status);
    if (!lookup.data)
        throw KeychainError::invalidData();
    std::optional<QString> text = strictUtf8(*lookup.data);
    if (!text) {
        qCWarning(lcKeychain).noquote() << "Keychain item for account" << account << "is not UTF-8 text.";
        throw KeychainError::invalidData();
    }
    co_return text;
}

QCoro::Task<> KeychainStore::save(QString value, QString account, CancelToken token) const
{
    const std::shared_ptr<SecretStore> security = m_security;
    const QByteArray bytes = value.toUtf8();
    const SecretItemQuery query = baseQuery(account);
    QCoro::Task<SecretStatus> addCall = security->add(query, bytes, token);
    SecretStatus status = co_await std::move(addCall);
    token.throwIfCancelled();
    if (status == SecretStatusCode::duplicateItem) {
        QCoro::Task<SecretStatus> updateCall = security->update(query, bytes, token);
        status = co_await std::move(updateCall);
        token.throwIfCancelled();
    }
    if (status != SecretStatusCode::success)
        throw KeychainError::unexpectedStatus(status);
}

QCoro::Task<> KeychainStore::deleteItem(QString account, CancelToken token) const
{
    const std::shared_ptr<SecretStore> security = m_security;
    QCoro::Task<SecretStatus> deleteCall = security->deleteItem(baseQuery(account), token);
    const SecretStatus status = co_await std::move(deleteCall);
    token.throwIfCancelled();
    if (status != SecretStatusCode::success && status != SecretStatusCode::itemNotFound)
        throw KeychainError::unexpectedStatus(status);
}

} // namespace tessvale
