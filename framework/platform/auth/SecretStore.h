#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tessvale {

// Status codes of the secret store, in the keychain's own numbering so that stored error reports
// and user-facing texts stay the same on every platform. 0 is success.
using SecretStatus = qint32;

namespace SecretStatusCode {
inline constexpr SecretStatus success = 0;
inline constexpr SecretStatus userCanceled = -128;
inline constexpr SecretStatus notAvailable = -25291;
inline constexpr SecretStatus authFailed = -25293;
inline constexpr SecretStatus duplicateItem = -25299;
inline constexpr SecretStatus itemNotFound = -25300;
inline constexpr SecretStatus interactionNotAllowed = -25308;
inline constexpr SecretStatus internalError = -26276;
} // namespace SecretStatusCode

// One generic-password item: a secret kept under a service name and an account name.
struct SecretItemQuery
{
    QString service;
    QString account;
};

// The four calls the keychain store makes. Every call blocks its caller and returns a status.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // Creates the item; duplicateItem when one already exists.
    virtual SecretStatus add(const SecretItemQuery& query, const QByteArray& value) = 0;
    // Replaces the secret of an existing item; itemNotFound when there is none.
    virtual SecretStatus update(const SecretItemQuery& query, const QByteArray& value) = 0;
    // Reads the secret of the item. On success, result holds the secret's bytes, or stays empty
    // when the store returned nothing usable.
    virtual SecretStatus copyMatching(const SecretItemQuery& query, std::optional<QByteArray>* result) = 0;
    // Deletes the item; itemNotFound when there is none.
    virtual SecretStatus deleteItem(const SecretItemQuery& query) = 0;
};

// The secret store of the platform the application runs on.
std::shared_ptr<SecretStore> makePlatformSecretStore();

} // namespace tessvale
