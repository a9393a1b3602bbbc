#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "instance/SingleInstance.h"
#include "support/async/EventLoopWaits.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using tessvale::SingleInstance;

namespace {

constexpr char folderVariable[] = "TESSVALE_INSTANCE_TEST_FOLDER";
constexpr char urlVariable[] = "TESSVALE_INSTANCE_TEST_URL";
constexpr char timeoutVariable[] = "TESSVALE_INSTANCE_TEST_TIMEOUT_MS";

// Another start of "the application": this test program, running only the helper below.
std::unique_ptr<QProcess> startHelper(const QString& folder, const QString& url = {}, int timeoutMs = 3000)
{
    auto process = std::make_unique<QProcess>();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(folderVariable), folder);
    environment.insert(QString::fromLatin1(urlVariable), url);
    environment.insert(QString::fromLatin1(timeoutVariable), QString::number(timeoutMs));
    process->setProcessEnvironment(environment);
    process->start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_also_run_disabled_tests"),
            QStringLiteral("--gtest_filter=SingleInstanceHelper.DISABLED_Run") });
    return process;
}

// Runs the event loop (so an in-process instance serves the helper) until the helper exits; returns
// the role it printed.
QByteArray roleOf(std::unique_ptr<QProcess> helper)
{
    QSignalSpy finished(helper.get(), &QProcess::finished);
    if (helper->state() != QProcess::NotRunning && !finished.wait(10000))
        return {};
    const QByteArray output = helper->readAllStandardOutput();
    const qsizetype at = output.indexOf("role=");
    return at < 0 ? QByteArray() : output.mid(at + 5).split('\n').first();
}

bool forwards(std::unique_ptr<QProcess> helper)
{
    return roleOf(std::move(helper)) == "forwarded";
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

// Warnings logged while the object lives.
class WarningCounter
{
public:
    WarningCounter() { s_previous = qInstallMessageHandler(&WarningCounter::handle); }
    ~WarningCounter()
    {
        qInstallMessageHandler(s_previous);
        s_lines.clear();
    }
    int count(const char* text) const
    {
        return int(std::count_if(s_lines.begin(), s_lines.end(),
            [text](const QString& line) { return line.contains(QLatin1String(text)); }));
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtWarningMsg)
            s_lines << message;
        s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_lines;
};

// Connects count times to the socket, each time sending a header no message may have, and hangs up.
void floodWithJunk(const QString& socketPath, int count, std::atomic<int>& sent)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::min(size_t(path.size()), sizeof address.sun_path - 1));
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::write(fd, "\xff\xff\xff\xff", 4) == 4)
            ++sent;
        ::close(fd);
    }
}

} // namespace

// Not a test: the other start that the tests below launch.
TEST(SingleInstanceHelper, DISABLED_Run)
{
    SingleInstance instance(qEnvironmentVariable(folderVariable));
    const SingleInstance::Role role
        = instance.claim(QUrl(qEnvironmentVariable(urlVariable)), qEnvironmentVariableIntValue(timeoutVariable));
    const char* names[] = { "instance", "forwarded", "failed", "refused" };
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

// Whatever a dead holder or another program left where the lock belongs, the next start becomes the
// instance at once, and never writes through a symlink.
TEST(SingleInstance, ALockNobodyHoldsIsTakenOverWhateverItHolds)
{
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    struct Variant
    {
        const char* name;
        QByteArray contents; // of a regular file
        enum { file, symlink, directory } kind = file;
    };
    const Variant variants[] = {
        { "empty", "" },
        { "junk", "\xff\xfe\x01 junk\n\n\n\n" },
        { "another host", "4242\nTessvale\nanother-host.example\n" },
        { "pid 0", "0\nTessvale\n" + host + "\n" },
        // Running, but not this user's to identify.
        { "a live pid of another program", "1\nTessvale\n" + host + "\n" },
        { "a dangling symlink", "nowhere", Variant::symlink },
        { "a symlink to another file", "victim", Variant::symlink },
        { "a directory", {}, Variant::directory },
    };
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.name);
        QTemporaryDir folder;
        SingleInstance instance(folder.path());
        const QByteArray lockPath = QFile::encodeName(instance.lockFilePath());
        const QString victim = folder.filePath(QStringLiteral("victim"));
        QFile victimFile(victim);
        ASSERT_TRUE(victimFile.open(QIODevice::WriteOnly));
        victimFile.write("untouched");
        victimFile.close();
        switch (variant.kind) {
        case Variant::file: {
            QFile lock(instance.lockFilePath());
            ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
            lock.write(variant.contents);
            break;
        }
        case Variant::symlink:
            ASSERT_EQ(::symlink(folder.filePath(QString::fromLatin1(variant.contents)).toUtf8().constData(),
                          lockPath.constData()),
                0);
            break;
        case Variant::directory:
            ASSERT_EQ(::mkdir(lockPath.constData(), 0700), 0);
            break;
        }

        const SingleInstance::Role role = instance.claim();
        EXPECT_EQ(role, SingleInstance::Role::instance);
        if (role != SingleInstance::Role::instance)
            continue;
        EXPECT_TRUE(forwards(startHelper(folder.path())));
        EXPECT_TRUE(QFileInfo(instance.lockFilePath()).isFile() && !QFileInfo(instance.lockFilePath()).isSymLink());
        EXPECT_FALSE(QFile::exists(folder.filePath(QStringLiteral("nowhere"))));
        ASSERT_TRUE(victimFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(victimFile.readAll(), "untouched");
    }
}

// An instance of an older version holds a Qt lock file: a start finds it through its socket.
TEST(SingleInstance, AnOlderInstanceHoldingAQtLockFileIsFoundThroughItsSocket)
{
    QTemporaryDir folder;
    const SingleInstance paths(folder.path());
    QLockFile older(paths.lockFilePath());
    ASSERT_TRUE(older.tryLock(0));
    QLocalServer server;
    ASSERT_TRUE(server.listen(paths.socketPath()));
    QObject::connect(&server, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->putChar('\x06');
            socket->disconnectFromServer();
        });
    });
    EXPECT_TRUE(forwards(startHelper(folder.path())));
    server.close();
    EXPECT_EQ(roleOf(startHelper(folder.path(), {}, 500)), "failed");
}

TEST(SingleInstance, AUrlTooLargeToForwardIsRefusedAtOnceAndNeverSent)
{
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    ASSERT_EQ(instance.claim(), SingleInstance::Role::instance);
    WarningCounter warnings;
    const QString tooLarge = QStringLiteral("tessvale://auth/callback?code=")
        + QString(SingleInstance::maximumMessageSize, QLatin1Char('a'));
    EXPECT_EQ(roleOf(startHelper(folder.path(), tooLarge)), "refused");
    EXPECT_EQ(warnings.count("Dropped"), 0);
}

TEST(SingleInstance, AFloodOfJunkIsLoggedSparinglyAndAnActivationStillGetsThrough)
{
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    ASSERT_EQ(instance.claim(), SingleInstance::Role::instance);
    WarningCounter warnings;
    constexpr int floodSize = 3000;
    std::atomic<int> sent { 0 };
    std::atomic<bool> done { false };
    std::thread flood([&] {
        floodWithJunk(instance.socketPath(), floodSize, sent);
        done = true;
    });
    ASSERT_TRUE(tessvale::waitUntil([&] { return sent > floodSize / 4; }, std::chrono::seconds(60)));
    // Answered within a second while the flood goes on.
    QElapsedTimer timer;
    timer.start();
    const QByteArray role = roleOf(startHelper(folder.path(), {}, 1000));
    const qint64 elapsed = timer.elapsed();
    const int sentBefore = sent;
    EXPECT_TRUE(tessvale::waitUntil([&] { return done.load(); }, std::chrono::seconds(60)));
    flood.join();
    std::printf("activation answered after %lld ms, %d of %d junk connections sent by then\n",
        static_cast<long long>(elapsed), sentBefore, floodSize);
    EXPECT_EQ(role, "forwarded");
    EXPECT_LE(warnings.count("Dropped"), 20);
}
