#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "instance/SingleInstance.h"

using tessvale::SingleInstance;

namespace {

constexpr char folderVariable[] = "TESSVALE_INSTANCE_TEST_FOLDER";
constexpr char urlVariable[] = "TESSVALE_INSTANCE_TEST_URL";

// Another start of "the application": this test program, running only the helper below.
std::unique_ptr<QProcess> startHelper(const QString& folder, const QString& url = {})
{
    auto process = std::make_unique<QProcess>();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(folderVariable), folder);
    environment.insert(QString::fromLatin1(urlVariable), url);
    process->setProcessEnvironment(environment);
    process->start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_also_run_disabled_tests"),
            QStringLiteral("--gtest_filter=SingleInstanceHelper.DISABLED_Run") });
    return process;
}

// Runs the event loop (so an in-process instance serves the helper) until the helper exits.
bool forwards(std::unique_ptr<QProcess> helper)
{
    QSignalSpy finished(helper.get(), &QProcess::finished);
    return (helper->state() == QProcess::NotRunning || finished.wait(10000))
        && helper->readAllStandardOutput().contains("role=forwarded");
}

// Sends raw bytes to the instance; returns what it answered before closing the connection, which
// it must do well before it would give up on a silent client.
QByteArray exchange(const QString& socketPath, const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    EXPECT_TRUE(socket.waitForConnected(60000));
    socket.write(bytes);
    QByteArray reply;
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] { reply += socket.readAll(); });
    QSignalSpy closed(&socket, &QLocalSocket::disconnected);
    EXPECT_TRUE(socket.state() != QLocalSocket::ConnectedState || closed.wait(1000));
    return reply + socket.readAll();
}

QByteArray framed(const QByteArray& payload, quint32 length)
{
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian(length, header.data());
    return header + payload;
}

} // namespace

// Not a test: the other start that the tests below launch.
TEST(SingleInstanceHelper, DISABLED_Run)
{
    SingleInstance instance(qEnvironmentVariable(folderVariable));
    const SingleInstance::Role role = instance.claim(QUrl(qEnvironmentVariable(urlVariable)));
    const char* names[] = { "instance", "forwarded", "failed" };
    printf("role=%s\n", names[int(role)]);
    fflush(stdout);
    if (role == SingleInstance::Role::instance)
        QEventLoop().exec(); // until the test kills it
}

TEST(SingleInstance, ForwardsUrlsInArrivalOrderAndActivations)
{
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    QSignalSpy urls(&instance, &SingleInstance::urlReceived);
    QSignalSpy activations(&instance, &SingleInstance::activationRequested);
    const QUrl ownUrl(QStringLiteral("tessvale://auth/callback?code=first"));
    ASSERT_EQ(instance.claim(ownUrl), SingleInstance::Role::instance);

    EXPECT_TRUE(
        forwards(startHelper(folder.path(), QStringLiteral("tessvale://auth/callback?code=second&state=a%20b"))));
    EXPECT_TRUE(forwards(startHelper(folder.path(), QStringLiteral("tessvale://auth/callback?code=third"))));
    EXPECT_TRUE(forwards(startHelper(folder.path())));

    ASSERT_EQ(urls.size(), 3);
    EXPECT_EQ(urls.at(0).at(0).toUrl(), ownUrl);
    EXPECT_EQ(urls.at(1).at(0).toUrl().query(QUrl::FullyDecoded), "code=second&state=a b");
    EXPECT_EQ(urls.at(2).at(0).toUrl(), QUrl(QStringLiteral("tessvale://auth/callback?code=third")));
    EXPECT_EQ(activations.size(), 1);
}

TEST(SingleInstance, FindsTheUrlOnTheCommandLine)
{
    const QString callback = QStringLiteral("tessvale://auth/callback?code=x");
    EXPECT_EQ(SingleInstance::urlFromArguments({ "Tessvale", "--check", "not a url", callback }), QUrl(callback));
    EXPECT_TRUE(SingleInstance::urlFromArguments({ callback, "--check" }).isEmpty());
}

TEST(SingleInstance, SimultaneousFirstStartsGiveOneInstance)
{
    QTemporaryDir folder;
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 4; ++i)
        starts.push_back(startHelper(folder.path()));
    QByteArray output;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (auto& start : starts)
                output += start->readAllStandardOutput();
            return output.count("role=") == 4;
        },
        60000));
    EXPECT_EQ(output.count("role=instance"), 1);
    EXPECT_EQ(output.count("role=forwarded"), 3);
    for (auto& start : starts) {
        start->kill();
        start->waitForFinished();
    }
}

TEST(SingleInstance, RecoversFromACrashedInstanceAndDropsBadInput)
{
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    auto crashed = startHelper(folder.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return crashed->readAllStandardOutput().contains("role=instance"); }, 60000));
    crashed->kill(); // SIGKILL: it leaves its lock and socket behind
    crashed->waitForFinished();
    ASSERT_TRUE(QFile::exists(instance.lockFilePath()));
    ASSERT_TRUE(QFile::exists(instance.socketPath()));

    ASSERT_EQ(instance.claim(), SingleInstance::Role::instance);
    QSignalSpy urls(&instance, &SingleInstance::urlReceived);
    QSignalSpy activations(&instance, &SingleInstance::activationRequested);

    // Each bad message closes its own connection unanswered; the instance serves the next one.
    const QByteArray url = "tessvale://auth/callback?code=ok";
    const QByteArray badInputs[] = {
        framed(QByteArray(9000, 'a'), 9000),
        framed({}, 0xFFFFFFFF),
        framed("\xff\xfe\xfd", 3),
        framed("no scheme", 9),
        framed(url + "junk", quint32(url.size())),
    };
    for (const QByteArray& bad : badInputs)
        EXPECT_EQ(exchange(instance.socketPath(), bad), QByteArray()) << bad.left(12).toHex().constData();
    EXPECT_EQ(urls.size() + activations.size(), 0);

    EXPECT_EQ(exchange(instance.socketPath(), framed(url, quint32(url.size()))), "\x06");
    EXPECT_TRUE(forwards(startHelper(folder.path(), QStringLiteral("tessvale://auth/callback?code=later"))));
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls.at(0).at(0).toUrl(), QUrl(QString::fromLatin1(url)));
}
