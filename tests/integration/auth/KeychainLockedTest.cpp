#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include "auth/KeychainStore.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/async/TaskRunner.h"
#include "support/auth/KeyringDesktop.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

// The login keyring of the private desktop locked, as after a screen lock or a fresh login without
// auto-unlock. Its unlock prompt is the real one (gcr-prompter on the test display), answered or
// dismissed with keys.
namespace {

const QString kAccount = QStringLiteral("cloud-api-key");

// The keychain status the task failed with; 0 when it did not fail with a keychain error.
template <typename T> SecretStatus statusOf(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
    } catch (const KeychainError& error) {
        return error.status();
    } catch (const std::exception& other) {
        ADD_FAILURE() << "not a keychain error: " << other.what();
    }
    return 0;
}

class LockedKeychain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || qEnvironmentVariableIsEmpty("DISPLAY"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no private desktop with a keyring (run through scripts/test-env)";
        m_collection = defaultCollection();
        ASSERT_FALSE(m_collection.isEmpty());
        runTask(m_store.save(QStringLiteral("tv_live_locked"), kAccount));
        lock();
    }

    void TearDown() override
    {
        if (m_collection.isEmpty())
            return;
        if (isLocked()) {
            QCoro::Task<std::optional<QString>> read = m_store.read(kAccount);
            unlockAtPrompt();
            (void)statusOf(std::move(read));
        }
        EXPECT_FALSE(isLocked()) << "the keyring stayed locked for the tests after this one";
        (void)statusOf(m_store.deleteItem(kAccount));
    }

    void lock()
    {
        lockCollection(m_collection);
        ASSERT_TRUE(isLocked());
    }

    bool isLocked() { return isCollectionLocked(m_collection); }

    // Items stored under the store's service and the account, locked or not.
    int storedItems()
    {
        const QString found = secretServiceCall(QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service.SearchItems"),
            { QStringLiteral("{'service': '%1', 'account': '%2'}").arg(m_service, kAccount) });
        return int(found.count(QStringLiteral("objectpath")));
    }

    QString m_service = QStringLiteral("com.tessvale.tests.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    KeychainStore m_store { m_service, std::make_shared<LibsecretSecretStore>() };
    QString m_collection;
};

} // namespace

TEST_F(LockedKeychain, DismissedPromptFailsReadDeleteAndSaveAndKeepsTheItem)
{
    // The event loop runs on while the prompt waits for the user.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    QCoro::Task<std::optional<QString>> read = m_store.read(kAccount);
    ASSERT_FALSE(promptWindow().isEmpty());
    EXPECT_TRUE(waitUntil([&ticks] { return ticks > 5; }, 60s));
    dismissPrompt();
    EXPECT_EQ(statusOf(std::move(read)), SecretStatusCode::userCanceled);

    QCoro::Task<> deletion = m_store.deleteItem(kAccount);
    dismissPrompt();
    EXPECT_EQ(statusOf(std::move(deletion)), SecretStatusCode::userCanceled);
    QCoro::Task<> save = m_store.save(QStringLiteral("tv_live_other"), kAccount);
    dismissPrompt();
    EXPECT_EQ(statusOf(std::move(save)), SecretStatusCode::userCanceled);
    EXPECT_EQ(storedItems(), 1);
    EXPECT_TRUE(isLocked());
}

TEST_F(LockedKeychain, ReadAndDeleteUnlockThroughThePrompt)
{
    QCoro::Task<std::optional<QString>> read = m_store.read(kAccount);
    unlockAtPrompt();
    EXPECT_EQ(runTask(std::move(read)), QStringLiteral("tv_live_locked"));

    lock();
    QCoro::Task<> deletion = m_store.deleteItem(kAccount);
    unlockAtPrompt();
    EXPECT_NO_THROW(runTask(std::move(deletion)));
    EXPECT_EQ(storedItems(), 0);
}

TEST_F(LockedKeychain, CancellingAPendingUnlockEndsTheReadAndLeavesThePromptToTheUser)
{
    const QString keyring = keyringOwner();
    CancelSource cancel;
    QCoro::Task<std::optional<QString>> read = m_store.read(kAccount, cancel.token());
    ASSERT_FALSE(promptWindow().isEmpty());
    cancel.cancel();
    EXPECT_THROW(runTask(std::move(read), 2s), CancelledError);
    // The keyring went on running, and its prompt still unlocks it.
    unlockAtPrompt();
    EXPECT_TRUE(waitUntil([this] { return !isLocked(); }, 60s));
    EXPECT_EQ(keyringOwner(), keyring);
}

// A session whose keyring cannot show a prompt at all (no display for the prompter): its own bus,
// keyring and data folder, so the shared keyring stays as it is.
TEST(LockedKeychainWithoutPrompter, ReadAndDeleteFailInsteadOfAbsentAndDeleted)
{
    const QString probe = helperProgramPath(QStringLiteral("tessvale-keychain-probe"));
    const QString script = QStringLiteral(R"sh(
        set -e
        eval "$(echo -n test | gnome-keyring-daemon --unlock --components=secrets)"
        echo -n secret | secret-tool store --label=probe service com.tessvale.tests.np account cloud-api-key
        gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
            --method org.freedesktop.Secret.Service.Lock "['/org/freedesktop/secrets/collection/login']" >/dev/null
        "$PROBE" read com.tessvale.tests.np cloud-api-key
        "$PROBE" delete com.tessvale.tests.np cloud-api-key
        gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
            --method org.freedesktop.Secret.Service.SearchItems "{'service': 'com.tessvale.tests.np'}"
    )sh");
    QTemporaryDir data;
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("GNOME_KEYRING_CONTROL"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("PROBE"), probe);
    const QStringList lines = runTool(QStringLiteral("dbus-run-session"),
        { QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script }, environment)
                                  .split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('\n')).toStdString();
    const QString canceled
        = QStringLiteral("error -128 ") + KeychainError::unexpectedStatus(-128).localizedDescription();
    EXPECT_EQ(lines[0], canceled);
    EXPECT_EQ(lines[1], canceled);
    // Still stored, locked.
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("(@ao [], [objectpath"))) << lines[2].toStdString();
}
