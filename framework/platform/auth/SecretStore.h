#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"

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

// What a read found: on success, the secret's bytes, or nothing when the store returned nothing
// usable.
struct SecretLookup
{
    SecretStatus status = SecretStatusCode::success;
    std::optional<QByteArray> data;
};

// The four calls the keychain store makes. Each may wait for the user to unlock the keyring, so it
// is awaited rather than blocking its caller; it resumes on the calling thread. A cancelled token
// ends the wait soon, with CancelledError or with a status that the caller, checking its token,
// ignores.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // Creates the item; duplicateItem when one already exists, locked or not.
    virtual QCoro::Task<SecretStatus> add(SecretItemQuery query, QByteArray value, CancelToken token) = 0;
    // Replaces the secret of an existing item; itemNotFound when there is none.
    virtual QCoro::Task<SecretStatus> update(SecretItemQuery query, QByteArray value, CancelToken token) = 0;
    // Reads the secret of the item, unlocking it first when it is locked.
    virtual QCoro::Task<SecretLookup> copyMatching(SecretItemQuery query, CancelToken token) = 0;
    // Deletes the item, unlocking it first when it is locked; itemNotFound when there is none.
    virtual QCoro::Task<SecretStatus> deleteItem(SecretItemQuery query, CancelToken token) = 0;
};

} // namespace tessvale
