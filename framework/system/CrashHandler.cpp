#include "system/CrashHandler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/Logging.h"

namespace tessvale {

namespace {

constexpr std::array<int, 5> kSignals { SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL };
constexpr size_t kTimeDigits = 10;
// Large enough for a sanitizer's handler running on it after ours.
constexpr size_t kAltStackSize = 256 * 1024;

// One signal's envelope, cut where the handler fills in the length, the time and the breadcrumbs.
struct SignalTemplate
{
    enum class Hole {
        time,
        breadcrumbs,
    };

    bool usable = false;
    std::string beforeLength;
    std::string afterLength; // the rest of the header
    // The payload: texts[0], holes[0], texts[1], holes[1], texts[2]; without breadcrumbs only the first hole.
    std::array<std::string, 3> texts;
    std::array<Hole, 2> holes { Hole::time, Hole::breadcrumbs };
    size_t holeCount = 0;
    // The payload's bytes without the breadcrumbs, the crash time included.
    size_t fixedPayloadSize = 0;
};

// Fixed from one install to the next.
struct Frame
{
    std::string path;
    std::string partPath;
    std::array<SignalTemplate, kSignals.size()> templates;
};

// Never changed once published: each breadcrumb publishes a new list sharing the kept strings, so
// an update costs the same however many breadcrumbs there are, and a handler reads a consistent one.
struct BreadcrumbList
{
    std::vector<const std::string*> items; // oldest first
    size_t textSize = 0; // the items' bytes, without the commas between them
};

std::atomic<const Frame*> g_frame { nullptr };
std::atomic<const BreadcrumbList*> g_breadcrumbs { nullptr };
// Handlers between taking the published pointers and finishing with them. While there is one,
// nothing replaced is freed: it may be what that handler reads, on this thread or another.
std::atomic<int> g_readers { 0 };
std::atomic<bool> g_handling { false };

std::mutex g_lock;
bool g_installed = false;
size_t g_capacity = 0;
std::array<struct sigaction, kSignals.size()> g_previous {};
std::vector<const Frame*> g_retiredFrames;
std::vector<const BreadcrumbList*> g_retiredLists;
std::vector<const std::string*> g_retiredTexts;
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

void writeAll(int fd, const std::string& text)
{
    writeAll(fd, text.data(), text.size());
}

// Decimal digits without leading zeros; returns how many.
size_t formatDecimal(unsigned long long value, char (&digits)[24])
{
    char reversed[24];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (size_t i = 0; i < count; ++i)
        digits[i] = reversed[count - 1 - i];
    return count;
}

void writeReport(const Frame& frame, const BreadcrumbList* breadcrumbs, int slot)
{
    const SignalTemplate& report = frame.templates[slot];
    if (!report.usable)
        return;
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char time[kTimeDigits];
    long long seconds = static_cast<long long>(now.tv_sec);
    for (int i = kTimeDigits - 1; i >= 0; --i) {
        time[i] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    }
    size_t payloadSize = report.fixedPayloadSize;
    if (breadcrumbs && !breadcrumbs->items.empty())
        payloadSize += breadcrumbs->textSize + breadcrumbs->items.size() - 1;
    char length[24];
    const size_t lengthDigits = formatDecimal(payloadSize, length);

    const int fd = ::open(frame.partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, report.beforeLength);
    writeAll(fd, length, lengthDigits);
    writeAll(fd, report.afterLength);
    for (size_t hole = 0; hole < report.holeCount; ++hole) {
        writeAll(fd, report.texts[hole]);
        if (report.holes[hole] == SignalTemplate::Hole::time) {
            writeAll(fd, time, kTimeDigits);
        } else if (breadcrumbs) {
            for (size_t i = 0; i < breadcrumbs->items.size(); ++i) {
                if (i > 0)
                    writeAll(fd, ",", 1);
                writeAll(fd, *breadcrumbs->items[i]);
            }
        }
    }
    writeAll(fd, report.texts[report.holeCount]);
    writeAll(fd, "\n", 1);
    ::close(fd);
    ::rename(frame.partPath.c_str(), frame.path.c_str());
}

void handleFatalSignal(int signalNumber, siginfo_t* info, void*)
{
    const int saved = errno;
    const int slot = slotOf(signalNumber);
    if (slot >= 0) {
        // Counted before the pointers are read, so that nothing they lead to is freed meanwhile.
        g_readers.fetch_add(1);
        if (!g_handling.exchange(true)) {
            if (const Frame* frame = g_frame.load())
                writeReport(*frame, g_breadcrumbs.load(), slot);
        }
        g_readers.fetch_sub(1);
        ::sigaction(signalNumber, &g_previous[slot], nullptr);
    }
    errno = saved;
    // A fault raised by the kernel comes back when the instruction runs again; a sent signal
    // (abort, kill) has to be raised anew for the previous handler or the default action.
    if (!info || info->si_code <= 0)
        ::raise(signalNumber);
}

SignalTemplate makeSignalTemplate(const CrashEnvelopeTemplate& envelope)
{
    SignalTemplate prepared;
    const qsizetype length = envelope.header.indexOf(CrashHandler::lengthPlaceholder());
    const qsizetype time = envelope.payload.indexOf(CrashHandler::timePlaceholder());
    if (length < 0 || time < 0)
        return prepared;
    prepared.beforeLength = envelope.header.left(length).toStdString();
    prepared.afterLength = envelope.header.mid(length + CrashHandler::lengthPlaceholder().size()).toStdString();

    struct Found
    {
        qsizetype at;
        qsizetype size;
        SignalTemplate::Hole hole;
    };
    std::vector<Found> found { { time, CrashHandler::timePlaceholder().size(), SignalTemplate::Hole::time } };
    const qsizetype breadcrumbs = envelope.payload.indexOf(CrashHandler::breadcrumbsPlaceholder());
    if (breadcrumbs >= 0)
        found.push_back(
            { breadcrumbs, CrashHandler::breadcrumbsPlaceholder().size(), SignalTemplate::Hole::breadcrumbs });
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.at < b.at; });
    qsizetype from = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        prepared.texts[i] = envelope.payload.mid(from, found[i].at - from).toStdString();
        prepared.holes[i] = found[i].hole;
        from = found[i].at + found[i].size;
        prepared.fixedPayloadSize += prepared.texts[i].size();
    }
    prepared.holeCount = found.size();
    prepared.texts[found.size()] = envelope.payload.mid(from).toStdString();
    prepared.fixedPayloadSize += prepared.texts[found.size()].size() + kTimeDigits;
    prepared.usable = true;
    return prepared;
}

const Frame* makeFrame(const QString& path, const QMap<int, CrashEnvelopeTemplate>& templates)
{
    auto* frame = new Frame;
    frame->path = path.toStdString();
    frame->partPath = (path + QStringLiteral(".part")).toStdString();
    for (size_t i = 0; i < kSignals.size(); ++i)
        frame->templates[i] = makeSignalTemplate(templates.value(kSignals[i]));
    return frame;
}

// Frees what was replaced, unless a handler may still be reading it. Runs under g_lock, after the
// replacement is published: a handler counted from now on can only see the new pointers.
void collectRetired()
{
    if (g_readers.load() != 0)
        return;
    for (const Frame* frame : g_retiredFrames)
        delete frame;
    for (const BreadcrumbList* list : g_retiredLists)
        delete list;
    for (const std::string* text : g_retiredTexts)
        delete text;
    g_retiredFrames.clear();
    g_retiredLists.clear();
    g_retiredTexts.clear();
}

void retireFrame(const Frame* frame)
{
    if (frame)
        g_retiredFrames.push_back(frame);
}

// The list, and the first dropped of its items.
void retireList(const BreadcrumbList* list, size_t dropped)
{
    if (!list)
        return;
    g_retiredLists.push_back(list);
    for (size_t i = 0; i < dropped && i < list->items.size(); ++i)
        g_retiredTexts.push_back(list->items[i]);
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

void CrashHandler::install(
    const QString& path, const QMap<int, CrashEnvelopeTemplate>& templates, int breadcrumbCapacity)
{
    std::lock_guard<std::mutex> guard(g_lock);
    retireFrame(g_frame.exchange(makeFrame(path, templates)));
    g_capacity = static_cast<size_t>(std::max(breadcrumbCapacity, 0));
    collectRetired();
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
    // A new installation reports the next crash.
    g_handling = false;
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

void CrashHandler::addBreadcrumb(const QByteArray& json)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_installed || g_capacity == 0)
        return;
    const BreadcrumbList* current = g_breadcrumbs.load();
    const size_t kept = current ? current->items.size() : 0;
    const size_t dropped = kept + 1 > g_capacity ? kept + 1 - g_capacity : 0;
    auto* next = new BreadcrumbList;
    next->items.reserve(kept - dropped + 1);
    if (current) {
        next->items.assign(current->items.begin() + static_cast<std::ptrdiff_t>(dropped), current->items.end());
        next->textSize = current->textSize;
        for (size_t i = 0; i < dropped; ++i)
            next->textSize -= current->items[i]->size();
    }
    next->items.push_back(new std::string(json.constData(), static_cast<size_t>(json.size())));
    next->textSize += static_cast<size_t>(json.size());
    retireList(g_breadcrumbs.exchange(next), dropped);
    collectRetired();
}

void CrashHandler::uninstall()
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_installed)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed = false;
    retireFrame(g_frame.exchange(nullptr));
    const BreadcrumbList* last = g_breadcrumbs.exchange(nullptr);
    retireList(last, last ? last->items.size() : 0);
    collectRetired();
}

bool CrashHandler::isInstalled()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_installed;
}

} // namespace tessvale
