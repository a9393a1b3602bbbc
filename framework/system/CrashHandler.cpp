#include "system/CrashHandler.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "system/Logging.h"

namespace tessvale {

namespace {

constexpr std::array<int, 5> kSignals { SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL };
constexpr int kTimeDigits = 10;
// Large enough for a sanitizer's handler running on it after ours.
constexpr size_t kAltStackSize = 256 * 1024;

struct Templates
{
    std::string path;
    std::string partPath;
    std::array<std::string, kSignals.size()> before;
    std::array<std::string, kSignals.size()> after;
};

std::atomic<Templates*> g_current { nullptr };
// Replaced templates stay alive for a while, in case a handler on another thread still reads one.
std::array<Templates*, 8> g_retired {};
size_t g_retiredNext = 0;
std::mutex g_installLock;
bool g_installed = false;
std::array<struct sigaction, kSignals.size()> g_previous {};
std::atomic_flag g_handling = ATOMIC_FLAG_INIT;
alignas(16) char g_altStack[kAltStackSize];

int slotOf(int signalNumber)
{
    for (size_t i = 0; i < kSignals.size(); ++i) {
        if (kSignals[i] == signalNumber)
            return static_cast<int>(i);
    }
    return -1;
}

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void writeReport(const Templates& templates, int slot)
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char digits[kTimeDigits];
    long long seconds = static_cast<long long>(now.tv_sec);
    for (int i = kTimeDigits - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    }
    const int fd = ::open(templates.partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, templates.before[slot].data(), templates.before[slot].size());
    writeAll(fd, digits, kTimeDigits);
    writeAll(fd, templates.after[slot].data(), templates.after[slot].size());
    ::close(fd);
    ::rename(templates.partPath.c_str(), templates.path.c_str());
}

void handleFatalSignal(int signalNumber, siginfo_t* info, void*)
{
    const int saved = errno;
    const int slot = slotOf(signalNumber);
    if (slot >= 0) {
        if (!g_handling.test_and_set()) {
            if (const Templates* templates = g_current.load())
                writeReport(*templates, slot);
        }
        ::sigaction(signalNumber, &g_previous[slot], nullptr);
    }
    errno = saved;
    // A fault raised by the kernel comes back when the instruction runs again; a sent signal
    // (abort, kill) has to be raised anew for the previous handler or the default action.
    if (!info || info->si_code <= 0)
        ::raise(signalNumber);
}

Templates* makeTemplates(const QString& path, const QMap<int, QByteArray>& envelopes)
{
    auto* templates = new Templates;
    templates->path = path.toStdString();
    templates->partPath = (path + QStringLiteral(".part")).toStdString();
    for (size_t i = 0; i < kSignals.size(); ++i) {
        const QByteArray envelope = envelopes.value(kSignals[i]);
        const qsizetype at = envelope.indexOf(CrashHandler::timePlaceholder());
        if (at < 0)
            continue;
        templates->before[i] = envelope.left(at).toStdString();
        templates->after[i] = envelope.mid(at + CrashHandler::timePlaceholder().size()).toStdString();
    }
    return templates;
}

void publish(Templates* templates)
{
    Templates* old = g_current.exchange(templates);
    if (!old)
        return;
    delete g_retired[g_retiredNext];
    g_retired[g_retiredNext] = old;
    g_retiredNext = (g_retiredNext + 1) % g_retired.size();
}

} // namespace

QList<int> CrashHandler::handledSignals()
{
    return QList<int>(kSignals.begin(), kSignals.end());
}

QString CrashHandler::signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return QStringLiteral("SIGSEGV");
    case SIGABRT:
        return QStringLiteral("SIGABRT");
    case SIGBUS:
        return QStringLiteral("SIGBUS");
    case SIGFPE:
        return QStringLiteral("SIGFPE");
    case SIGILL:
        return QStringLiteral("SIGILL");
    }
    return QStringLiteral("SIG%1").arg(signalNumber);
}

QString CrashHandler::signalDescription(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return QStringLiteral("Segmentation fault");
    case SIGABRT:
        return QStringLiteral("Aborted");
    case SIGBUS:
        return QStringLiteral("Bus error");
    case SIGFPE:
        return QStringLiteral("Floating-point exception");
    case SIGILL:
        return QStringLiteral("Illegal instruction");
    }
    return QStringLiteral("Fatal signal");
}

void CrashHandler::install(const QString& path, const QMap<int, QByteArray>& envelopes)
{
    std::lock_guard<std::mutex> guard(g_installLock);
    publish(makeTemplates(path, envelopes));
    if (g_installed)
        return;

    // A stack overflow leaves no stack for the handler: give this thread a spare one unless it
    // already has one.
    stack_t current = {};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t spare = {};
        spare.ss_sp = g_altStack;
        spare.ss_size = sizeof(g_altStack);
        ::sigaltstack(&spare, nullptr);
    }
    for (size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction action = {};
        action.sa_sigaction = handleFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    }
    g_installed = true;
    qCInfo(lcErrorMonitoring) << "Crash handler installed.";
}

void CrashHandler::update(const QMap<int, QByteArray>& envelopes)
{
    std::lock_guard<std::mutex> guard(g_installLock);
    const Templates* current = g_current.load();
    if (!g_installed || !current)
        return;
    publish(makeTemplates(QString::fromStdString(current->path), envelopes));
}

void CrashHandler::uninstall()
{
    std::lock_guard<std::mutex> guard(g_installLock);
    if (!g_installed)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed = false;
    publish(nullptr);
}

bool CrashHandler::isInstalled()
{
    std::lock_guard<std::mutex> guard(g_installLock);
    return g_installed;
}

} // namespace tessvale
