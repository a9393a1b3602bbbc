#include "auth/KeychainStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include "system/Logging.h"

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

KeychainStore::KeychainStore(std::optional<QString> service)
    : KeychainStore(std::move(service), makePlatformSecretStore())
{
}

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

std::optional<QString> KeychainStore::read(const QString& account) const
{
    std::optional<QByteArray> data;
    const SecretStatus status = m_security->copyMatching(baseQuery(account), &data);
    if (status == SecretStatusCode::itemNotFound)
        return std::nullopt;
    if (status != SecretStatusCode::success)
        throw KeychainError::unexpectedStatus(status);
    if (!data)
        throw KeychainError::invalidData();
    std::optional<QString> text = strictUtf8(*data);
    if (!text) {
        qCWarning(lcKeychain).noquote() << "Keychain item for account" << account << "is not UTF-8 text.";
        throw KeychainError::invalidData();
    }
    return text;
}

void KeychainStore::save(const QString& value, const QString& account) const
{
    const QByteArray bytes = value.toUtf8();
    const SecretItemQuery query = baseQuery(account);
    SecretStatus status = m_security->add(query, bytes);
    if (status == SecretStatusCode::duplicateItem)
        status = m_security->update(query, bytes);
    if (status != SecretStatusCode::success)
        throw KeychainError::unexpectedStatus(status);
}

void KeychainStore::deleteItem(const QString& account) const
{
    const SecretStatus status = m_security->deleteItem(baseQuery(account));
    if (status != SecretStatusCode::success && status != SecretStatusCode::itemNotFound)
        throw KeychainError::unexpectedStatus(status);
}

} // namespace tessvale
