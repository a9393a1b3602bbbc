#include <gtest/gtest.h>

#include <QProcess>
#include <QUuid>

#include "auth/KeychainStore.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/TaskRunner.h"

// GIO names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

using namespace tessvale;
using tessvale::testing::helperProgramPath;

namespace {

const QString kAccount = QStringLiteral("cloud-api-key");

// Each test gets its own service name, so runs and tests never see each other's items.
class SecretServiceKeychain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no D-Bus session with a Secret Service (run through scripts/test-env)";
    }

    void TearDown() override
    {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            for (const QString& account : { kAccount, QStringLiteral("other-account") })
                runTask(LibsecretSecretStore().deleteItem(SecretItemQuery { m_service, account }, {}));
        }
    }

    // Items with the store's attributes, counted by libsecret itself.
    int itemCount(const QString& account) const
    {
        const QByteArray service = m_service.toUtf8();
        const QByteArray accountBytes = account.toUtf8();
        static const SecretSchema schema = {
            "org.freedesktop.Secret.Generic",
            SECRET_SCHEMA_DONT_MATCH_NAME,
            {
                { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
                { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
                { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
            },
        };
        GError* error = nullptr;
        GList* items = secret_password_search_sync(&schema, SECRET_SEARCH_ALL, nullptr, &error, "service",
            service.constData(), "account", accountBytes.constData(), nullptr);
        if (error) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return -1;
        }
        const int count = int(g_list_length(items));
        g_list_free_full(items, g_object_unref);
        return count;
    }

    QString secretToolLookup(const QString& account) const
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"),
            { QStringLiteral("lookup"), QStringLiteral("service"), m_service, QStringLiteral("account"), account });
        if (!tool.waitForFinished(60'000)) {
            ADD_FAILURE() << "secret-tool did not finish";
            return {};
        }
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    QString m_service = QStringLiteral("com.tessvale.tests.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    KeychainStore m_store { m_service, std::make_shared<LibsecretSecretStore>() };
};

} // namespace

TEST_F(SecretServiceKeychain, RoundTripsUnicodeText)
{
    const QString key = QStringLiteral("tv_live_Grüße-€-😀");
    runTask(m_store.save(key, kAccount));
    EXPECT_EQ(runTask(m_store.read(kAccount)), key);
}

TEST_F(SecretServiceKeychain, MissingItemReadsAsAbsent)
{
    EXPECT_EQ(runTask(m_store.read(kAccount)), std::nullopt);
}

TEST_F(SecretServiceKeychain, SavingTwiceLeavesOneItemWithTheSecondValue)
{
    runTask(m_store.save(QStringLiteral("first"), kAccount));
    runTask(m_store.save(QStringLiteral("second"), kAccount));
    EXPECT_EQ(runTask(m_store.read(kAccount)), QStringLiteral("second"));
    EXPECT_EQ(itemCount(kAccount), 1);
}

TEST_F(SecretServiceKeychain, DeleteRemovesTheItem)
{
    runTask(m_store.save(QStringLiteral("value"), kAccount));
    runTask(m_store.deleteItem(kAccount));
    EXPECT_EQ(runTask(m_store.read(kAccount)), std::nullopt);
    EXPECT_EQ(itemCount(kAccount), 0);
}

TEST_F(SecretServiceKeychain, DeletingAMissingItemSucceeds)
{
    EXPECT_NO_THROW(runTask(m_store.deleteItem(kAccount)));
    runTask(m_store.save(QStringLiteral("value"), kAccount));
    runTask(m_store.deleteItem(kAccount));
    EXPECT_NO_THROW(runTask(m_store.deleteItem(kAccount)));
}

TEST_F(SecretServiceKeychain, AccountsAndServicesAreSeparateItems)
{
    KeychainStore otherService(m_service + QStringLiteral(".other"), std::make_shared<LibsecretSecretStore>());
    runTask(m_store.save(QStringLiteral("mine"), kAccount));
    runTask(m_store.save(QStringLiteral("theirs"), QStringLiteral("other-account")));
    EXPECT_EQ(runTask(otherService.read(kAccount)), std::nullopt);
    runTask(m_store.deleteItem(QStringLiteral("other-account")));
    EXPECT_EQ(runTask(m_store.read(kAccount)), QStringLiteral("mine"));
}

TEST_F(SecretServiceKeychain, ItemIsPlainTextUnderServiceAndAccountForOtherClients)
{
    runTask(m_store.save(QStringLiteral("tv_test_visible"), kAccount));
    EXPECT_EQ(secretToolLookup(kAccount), QStringLiteral("tv_test_visible"));
}

TEST_F(SecretServiceKeychain, SecretThatIsNotUtf8ReadsAsInvalidData)
{
    LibsecretSecretStore backend;
    ASSERT_EQ(runTask(backend.add(SecretItemQuery { m_service, kAccount }, QByteArray("\xff\x00\xfe", 3), {})),
        SecretStatusCode::success);
    try {
        runTask(m_store.read(kAccount));
        FAIL() << "read did not fail";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.kind(), KeychainError::Kind::invalidData);
        EXPECT_EQ(error.localizedDescription(), QStringLiteral("The keyring returned invalid data."));
    }
}

TEST_F(SecretServiceKeychain, BackendReportsDuplicateAndMissingItems)
{
    LibsecretSecretStore backend;
    const SecretItemQuery query { m_service, kAccount };
    EXPECT_EQ(runTask(backend.update(query, "x", {})), SecretStatusCode::itemNotFound);
    EXPECT_EQ(runTask(backend.deleteItem(query, {})), SecretStatusCode::itemNotFound);
    EXPECT_EQ(runTask(backend.add(query, "x", {})), SecretStatusCode::success);
    EXPECT_EQ(runTask(backend.add(query, "y", {})), SecretStatusCode::duplicateItem);
    EXPECT_EQ(runTask(backend.update(query, "z", {})), SecretStatusCode::success);
    const SecretLookup lookup = runTask(backend.copyMatching(query, {}));
    EXPECT_EQ(lookup.status, SecretStatusCode::success);
    EXPECT_EQ(lookup.data, QByteArray("z"));
}

// Qt on Linux normally runs GLib's main context, which delivers libsecret's answers; without it
// the store iterates that context itself.
TEST_F(SecretServiceKeychain, ReadsUnderAnEventLoopWithoutGLibToo)
{
    runTask(m_store.save(QStringLiteral("tv_live_12345"), kAccount));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_NO_GLIB"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.start(helperProgramPath(QStringLiteral("tessvale-keychain-probe")), { m_service, kAccount });
    ASSERT_TRUE(process.waitForFinished(60'000));
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()).trimmed(), QStringLiteral("present 13"));
}

TEST(SecretServiceMissing, ReadFailsWithTheMissingServiceText)
{
    const QString probe = helperProgramPath(QStringLiteral("tessvale-keychain-probe"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/tessvale-bus"));
    process.setProcessEnvironment(environment);
    process.start(probe, { QStringLiteral("com.tessvale.tests"), kAccount });
    ASSERT_TRUE(process.waitForFinished(60'000)) << probe.toStdString();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
        QStringLiteral("error -25291 ") + KeychainError::unexpectedStatus(-25291).localizedDescription());
}
