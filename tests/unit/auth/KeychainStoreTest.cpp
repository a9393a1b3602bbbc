#include <gtest/gtest.h>

#include <memory>

#include "auth/KeychainStore.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "support/async/TaskRunner.h"
#include "support/auth/InMemorySecretStore.h"

// GIO names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

const QString kService = QStringLiteral("com.tessvale.tests");
const QString kAccount = QStringLiteral("cloud-api-key");

struct StoreFixture : ::testing::Test
{
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    KeychainStore store { kService, secrets };
};

template <typename Body> KeychainError caught(Body body)
{
    try {
        body();
    } catch (const KeychainError& error) {
        return error;
    }
    ADD_FAILURE() << "no KeychainError was thrown";
    return KeychainError::invalidData();
}

} // namespace

using KeychainRead = StoreFixture;

TEST_F(KeychainRead, MissingItemIsAbsentNotAnError)
{
    EXPECT_EQ(runTask(store.read(kAccount)), std::nullopt);
}

TEST_F(KeychainRead, ReturnsTheStoredUtf8Text)
{
    secrets->put(kService, kAccount, QStringLiteral("tv_live_Ä€😀").toUtf8());
    EXPECT_EQ(runTask(store.read(kAccount)), QStringLiteral("tv_live_Ä€😀"));
}

TEST_F(KeychainRead, EmptySecretIsAnEmptyTextNotAbsent)
{
    secrets->put(kService, kAccount, QByteArray());
    EXPECT_EQ(runTask(store.read(kAccount)), QString());
}

TEST_F(KeychainRead, BytesThatAreNotUtf8AreInvalidData)
{
    secrets->put(kService, kAccount, QByteArray("\xff\xfe key", 6));
    const KeychainError error = caught([&] { runTask(store.read(kAccount)); });
    EXPECT_EQ(error.kind(), KeychainError::Kind::invalidData);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("The keyring returned invalid data."));
}

TEST_F(KeychainRead, TruncatedMultiByteSequenceIsInvalidData)
{
    secrets->put(kService, kAccount, QByteArray("key\xe2\x82", 5));
    EXPECT_EQ(caught([&] { runTask(store.read(kAccount)); }).kind(), KeychainError::Kind::invalidData);
}

TEST_F(KeychainRead, LeadingByteOrderMarkIsKeptAsPartOfTheSecret)
{
    secrets->put(kService, kAccount, QByteArray("\xef\xbb\xbfkey"));
    EXPECT_EQ(runTask(store.read(kAccount)), QString(QChar(0xFEFF)) + QStringLiteral("key"));
}

TEST_F(KeychainRead, SuccessWithoutDataIsInvalidData)
{
    secrets->returnNoDataFor(kService, kAccount);
    EXPECT_EQ(caught([&] { runTask(store.read(kAccount)); }).kind(), KeychainError::Kind::invalidData);
}

TEST_F(KeychainRead, OtherStatusesFailWithThatStatus)
{
    secrets->failWith(InMemorySecretStore::Call::copyMatching, SecretStatusCode::interactionNotAllowed);
    const KeychainError error = caught([&] { runTask(store.read(kAccount)); });
    EXPECT_EQ(error, KeychainError::unexpectedStatus(-25308));
}

TEST_F(KeychainRead, AsksForTheItemOfTheStoresServiceAndTheAccount)
{
    runTask(store.read(kAccount));
    ASSERT_EQ(secrets->calls().size(), 1u);
    EXPECT_EQ(secrets->calls()[0].service, kService);
    EXPECT_EQ(secrets->calls()[0].account, kAccount);
}

using KeychainSave = StoreFixture;

TEST_F(KeychainSave, NewItemIsAddedOnce)
{
    runTask(store.save(QStringLiteral("first"), kAccount));
    EXPECT_EQ(secrets->item(kService, kAccount), QByteArray("first"));
    ASSERT_EQ(secrets->calls().size(), 1u);
    EXPECT_EQ(secrets->calls()[0].call, InMemorySecretStore::Call::add);
}

TEST_F(KeychainSave, SavingTwiceUpdatesTheOneItemInPlace)
{
    runTask(store.save(QStringLiteral("first"), kAccount));
    runTask(store.save(QStringLiteral("second"), kAccount));
    EXPECT_EQ(secrets->itemCount(), 1u);
    EXPECT_EQ(runTask(store.read(kAccount)), QStringLiteral("second"));
    ASSERT_GE(secrets->calls().size(), 3u);
    EXPECT_EQ(secrets->calls()[1].call, InMemorySecretStore::Call::add);
    EXPECT_EQ(secrets->calls()[2].call, InMemorySecretStore::Call::update);
    EXPECT_EQ(secrets->calls()[2].value, QByteArray("second"));
}

TEST_F(KeychainSave, StoresTheUtf8BytesOfTheText)
{
    runTask(store.save(QStringLiteral("schlüssel"), kAccount));
    EXPECT_EQ(secrets->item(kService, kAccount), QStringLiteral("schlüssel").toUtf8());
}

TEST_F(KeychainSave, FailedAddOtherThanDuplicateIsNotRetriedAsUpdate)
{
    secrets->failWith(InMemorySecretStore::Call::add, SecretStatusCode::userCanceled);
    EXPECT_EQ(
        caught([&] { runTask(store.save(QStringLiteral("v"), kAccount)); }), KeychainError::unexpectedStatus(-128));
    EXPECT_EQ(secrets->calls().size(), 1u);
}

TEST_F(KeychainSave, UpdateStatusReplacesTheDuplicateStatus)
{
    secrets->put(kService, kAccount, "old");
    secrets->failWith(InMemorySecretStore::Call::update, SecretStatusCode::authFailed);
    EXPECT_EQ(
        caught([&] { runTask(store.save(QStringLiteral("new"), kAccount)); }), KeychainError::unexpectedStatus(-25293));
    EXPECT_EQ(secrets->item(kService, kAccount), QByteArray("old"));
}

using KeychainDelete = StoreFixture;

TEST_F(KeychainDelete, RemovesTheItem)
{
    runTask(store.save(QStringLiteral("v"), kAccount));
    runTask(store.deleteItem(kAccount));
    EXPECT_EQ(runTask(store.read(kAccount)), std::nullopt);
}

TEST_F(KeychainDelete, MissingItemIsSuccess)
{
    EXPECT_NO_THROW(runTask(store.deleteItem(kAccount)));
}

TEST_F(KeychainDelete, OtherStatusesFail)
{
    secrets->failWith(InMemorySecretStore::Call::deleteItem, -34018);
    EXPECT_EQ(caught([&] { runTask(store.deleteItem(kAccount)); }), KeychainError::unexpectedStatus(-34018));
}

using KeychainAwait = StoreFixture;

TEST_F(KeychainAwait, OperationsResumeWhenTheKeyringAnswers)
{
    secrets->put(kService, kAccount, "v");
    secrets->hold();
    auto outcome = std::make_shared<TaskOutcome<std::optional<QString>>>();
    QCoro::Task<> running = captureTask(store.read(kAccount), outcome);
    EXPECT_FALSE(outcome->done);
    EXPECT_EQ(secrets->waitingCalls(), 1u);
    secrets->release();
    ASSERT_TRUE(outcome->done);
    EXPECT_EQ(outcome->result, std::optional<QString>(QStringLiteral("v")));
}

template <typename T> QCoro::Task<> ignoringValue(QCoro::Task<T> task)
{
    co_await std::move(task);
}

TEST_F(KeychainAwait, CancelWhileTheKeyringWaitsEndsWithCancelledErrorNotAKeychainError)
{
    const std::function<QCoro::Task<>(CancelToken)> operations[] = {
        [this](CancelToken token) { return ignoringValue(store.read(kAccount, token)); },
        [this](CancelToken token) { return store.save(QStringLiteral("v"), kAccount, token); },
        [this](CancelToken token) { return store.deleteItem(kAccount, token); },
    };
    for (const auto& operation : operations) {
        secrets->hold();
        CancelSource cancel;
        auto outcome = std::make_shared<TaskOutcome<void>>();
        QCoro::Task<> running = captureTask(operation(cancel.token()), outcome);
        cancel.cancel();
        ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
        EXPECT_THROW(std::rethrow_exception(outcome->error), CancelledError);
        secrets->release();
    }
}

TEST(KeychainService, GivenNameWins)
{
    EXPECT_EQ(KeychainStore::resolvedService(QStringLiteral("x.y"), QStringLiteral("a.b")), QStringLiteral("x.y"));
}

TEST(KeychainService, BundleIdentifierWhenNoNameIsGiven)
{
    EXPECT_EQ(KeychainStore::resolvedService(std::nullopt, QStringLiteral("a.b")), QStringLiteral("a.b"));
}

TEST(KeychainService, FallsBackWithoutNameOrBundleIdentifier)
{
    EXPECT_EQ(KeychainStore::resolvedService(std::nullopt, std::nullopt), QStringLiteral("com.tessvale.mac"));
    EXPECT_EQ(KeychainStore::resolvedService(std::nullopt, QString()), QStringLiteral("com.tessvale.mac"));
}

TEST(KeychainService, ApplicationStoreUsesTheBundleIdentifier)
{
    EXPECT_EQ(KeychainStore(std::nullopt, std::make_shared<InMemorySecretStore>()).service(),
        QStringLiteral("com.tessvale.mac"));
}

TEST(KeychainErrorText, AccessRefusedStatusesShareOneSentence)
{
    const QString text = QStringLiteral(
        "Tessvale could not access secure keyring storage. Allow keyring access and try signing in again.");
    EXPECT_EQ(KeychainError::unexpectedStatus(-25308).localizedDescription(), text);
    EXPECT_EQ(KeychainError::unexpectedStatus(-25293).localizedDescription(), text);
}

TEST(KeychainErrorText, CancellationHasItsOwnSentence)
{
    EXPECT_EQ(KeychainError::unexpectedStatus(-128).localizedDescription(),
        QStringLiteral("Keyring access was canceled. Allow Tessvale to access secure keyring storage and try again."));
}

TEST(KeychainErrorText, OtherStatusesShowTheSignedNumber)
{
    EXPECT_EQ(KeychainError::unexpectedStatus(-34018).localizedDescription(), QStringLiteral("Keyring error: -34018"));
    EXPECT_EQ(KeychainError::unexpectedStatus(7).localizedDescription(), QStringLiteral("Keyring error: 7"));
    EXPECT_STREQ(KeychainError::unexpectedStatus(-1).what(), "Keyring error: -1");
}

TEST(KeychainErrorText, MissingKeyringServiceSaysWhatIsMissing)
{
    EXPECT_EQ(KeychainError::unexpectedStatus(SecretStatusCode::notAvailable).localizedDescription(),
        QStringLiteral("Tessvale could not reach secure keyring storage. Make sure a keyring service "
                       "(Secret Service) is running and try again."));
}

TEST(SecretServiceErrors, MapToTheStatusesTheUserTextsKnow)
{
    struct Row
    {
        quint32 domain;
        int code;
        SecretStatus status;
    };
    const Row rows[] = {
        { G_IO_ERROR, G_IO_ERROR_CANCELLED, SecretStatusCode::userCanceled },
        { SECRET_ERROR, SECRET_ERROR_IS_LOCKED, SecretStatusCode::interactionNotAllowed },
        { G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN, SecretStatusCode::notAvailable },
        { G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER, SecretStatusCode::notAvailable },
        { G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED, SecretStatusCode::authFailed },
        { G_IO_ERROR, G_IO_ERROR_NOT_FOUND, SecretStatusCode::notAvailable },
        { G_IO_ERROR, G_IO_ERROR_FAILED, SecretStatusCode::notAvailable },
        { SECRET_ERROR, SECRET_ERROR_PROTOCOL, SecretStatusCode::internalError },
        { g_quark_from_static_string("some-other-domain"), 3, SecretStatusCode::internalError },
    };
    for (const Row& row : rows)
        EXPECT_EQ(LibsecretSecretStore::statusForError(row.domain, row.code), row.status)
            << g_quark_to_string(row.domain) << " " << row.code;
}
