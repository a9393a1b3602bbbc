#include "platform/linux/system/XdgUrlOpener.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
// This glibc's header lacks C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>

#include "async/OneShot.h"
#include "async/Spawn.h"
#include "base/Logging.h"

extern char** environ;

namespace tessvale {

namespace {

// The exit status of a program, or nothing while it still runs.
using ProgramOutcome = OneShot<std::optional<int>>;

// A started program, watched through its pidfd. It is reaped when it exits; when the watch is
// destroyed first the program keeps running.
class WatchedProgram : public QObject
{
public:
    WatchedProgram(int pidfd, ProgramOutcome outcome, QObject* parent)
        : QObject(parent)
        , m_pidfd(pidfd)
        , m_outcome(std::move(outcome))
        , m_notifier(new QSocketNotifier(pidfd, QSocketNotifier::Read, this))
    {
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { reap(); });
    }

    ~WatchedProgram() override { ::close(m_pidfd); }

private:
    void reap()
    {
        siginfo_t info {};
        if (::waitid(P_PIDFD, static_cast<id_t>(m_pidfd), &info, WEXITED | WNOHANG) != 0 || info.si_pid == 0)
            return;
        m_notifier->setEnabled(false);
        QPointer<WatchedProgram> self(this);
        // A program ended by a signal counts as a failure, as a shell would report it.
        m_outcome.resolve(info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status);
        if (self)
            deleteLater();
    }

    int m_pidfd;
    ProgramOutcome m_outcome;
    QSocketNotifier* m_notifier;
};

// Starts command in a session of its own with stdin on /dev/null; the program's pidfd, or errno.
int spawnProgram(const QStringList& command, int* pidfd)
{
    std::vector<QByteArray> words;
    words.reserve(command.size());
    for (const QString& word : command)
        words.push_back(word.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return error;
    // Nothing else reaps our children, so the pid stays ours until it is waited for.
    *pidfd = ::pidfd_open(pid, 0);
    if (*pidfd < 0) {
        const int openError = errno;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return openError;
    }
    return 0;
}

QCoro::Task<> resolveAfter(Sleeper* sleeper, Duration delay, ProgramOutcome outcome, CancelToken token)
{
    QCoro::Task<> waiting = sleeper->sleep(delay, token);
    co_await std::move(waiting);
    outcome.resolve(std::nullopt);
}

} // namespace

XdgUrlOpener::XdgUrlOpener()
    : XdgUrlOpener(Environment { [] { return qEnvironmentVariable("BROWSER"); }, &Sleeper::system() })
{
}

XdgUrlOpener::XdgUrlOpener(Environment environment)
    : m_environment(std::move(environment))
{
}

XdgUrlOpener::~XdgUrlOpener()
{
    m_lifetime.cancel();
}

QList<BrowserCommand> XdgUrlOpener::commandsFor(const QUrl& url, const QString& browserVariable)
{
    const QString address = url.toString(QUrl::FullyEncoded);
    QList<BrowserCommand> commands = browserCommands(browserVariable, address);
    if (commands.isEmpty())
        commands.append({ { QStringLiteral("xdg-open"), address }, {} });
    return commands;
}

QCoro::Task<PlatformResult> XdgUrlOpener::open(QUrl url, CancelToken token)
{
    QPointer<XdgUrlOpener> self(this);
    const CancelToken bound = m_lifetime.token().combinedWith(token);
    const QString browser = m_environment.browserVariable();
    QStringList failures;
    for (const BrowserCommand& command : commandsFor(url, browser)) {
        if (!command.failure.isEmpty()) {
            qCWarning(lcPlatform).noquote() << "Could not open a" << url.scheme() << "URL:" << command.failure;
            failures.append(command.failure);
            continue;
        }
        QCoro::Task<PlatformResult> running = run(command.words, bound);
        PlatformResult result = co_await std::move(running);
        if (!self)
            throw CancelledError();
        if (result) {
            qCInfo(lcPlatform).noquote() << "Opened a" << url.scheme() << "URL with" << command.words.first();
            co_return result;
        }
        qCWarning(lcPlatform).noquote() << "Could not open a" << url.scheme() << "URL:" << result.reason();
        failures.append(result.reason());
    }
    co_return PlatformResult::failed(failures.join(QStringLiteral("; ")));
}

QCoro::Task<PlatformResult> XdgUrlOpener::run(QStringList command, CancelToken token)
{
    token.throwIfCancelled();
    const QString program = command.first();
    int pidfd = -1;
    if (const int error = spawnProgram(command, &pidfd); error != 0) {
        co_return PlatformResult::failed(
            QStringLiteral("%1 could not be started: %2").arg(program, QString::fromLocal8Bit(std::strerror(error))));
    }

    ProgramOutcome outcome;
    new WatchedProgram(pidfd, outcome, this);
    CancelSource graceWatch;
    Sleeper* sleeper = m_environment.sleeper;
    const Duration grace = m_environment.startGracePeriod;
    runDetached([sleeper, grace, outcome](CancelToken watch) { return resolveAfter(sleeper, grace, outcome, watch); },
        graceWatch.token().combinedWith(token), QStringLiteral("URL opener start grace period"));
    auto registration = token.onCancel(this, [outcome]() mutable { outcome.fail(CancelledError()); });

    std::optional<int> status;
    try {
        status = co_await outcome;
    } catch (...) {
        graceWatch.cancel();
        throw;
    }
    graceWatch.cancel();
    if (status && *status != 0)
        co_return PlatformResult::failed(QStringLiteral("%1 exited with status %2").arg(program).arg(*status));
    co_return PlatformResult::ok();
}

} // namespace tessvale
