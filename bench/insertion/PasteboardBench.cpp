// The paste driver on the private desktop (run inside scripts/test-env):
//   PasteInsertion: pastes the 300-character paragraph into a text-field target through the whole
//     service, restoring the clipboard, and checks every run arrived exactly (characters per second
//     and milliseconds per paste).
//   SnapshotOfAnEndlessOwner: reads the clipboard from an owner that answers with an incremental
//     transfer and never stops sending 1 MB pieces (milliseconds per read, the longest the main loop
//     went without running, and how much the process grew).
//   PasteOverAnEndlessOwner: a paste through the service while that owner holds the clipboard, which
//     ends with the clipboard not read whole (milliseconds per paste, the longest the main loop went
//     without running, and how much the process grew).
//   TESSVALE_PASTE_RUNS  how many pastes (default 10)
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>

#include <functional>
#include <memory>

#include "InsertionRuns.h"
#include "InsertionTexts.h"
#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"
#include "platform/PlatformServices.h"
#include "platform/insertion/Clipboard.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"
#include "support/async/TaskRunner.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

QGuiApplication& application()
{
    static int argc = 1;
    static char name[] = "PasteboardBench";
    static char* argv[] = { name, nullptr };
    static QGuiApplication app(argc, argv);
    return app;
}

int runCount()
{
    const int runs = qEnvironmentVariableIntValue("TESSVALE_PASTE_RUNS");
    return runs > 0 ? runs : 10;
}

// The resident size of this process, in MB.
double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

void PasteInsertion(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const QString text = testing::capitalAccentedParagraph();
    const auto characters = characterCount(text);
    const bench::InsertionRunFigures figures
        = bench::runInsertions(state, TextInsertionDriver::pasteboard, QStringLiteral("tessvale-text-target"), text);
    const double charsPerSecond = figures.seconds > 0 ? characters * figures.runs / figures.seconds : 0;
    const double msPerPaste = figures.runs > 0 ? figures.seconds * 1000 / figures.runs : 0;
    state.counters["runs"] = figures.runs;
    state.counters["correct_runs"] = figures.exactRuns;
    state.counters["chars_per_second"] = charsPerSecond;
    state.counters["ms_per_paste"] = msPerPaste;
    std::fprintf(stderr, "paste: %d of %d runs exact, %.0f characters per second, %.0f ms per paste\n",
        figures.exactRuns, figures.runs, charsPerSecond, msPerPaste);
    if (figures.exactRuns != figures.runs)
        state.SkipWithError("some runs did not arrive exactly");
}

// The longest the main loop went without running while the task started ran, in ms (a task runs
// up to its first wait when started).
template <typename T>
double longestMainLoopGap(const std::function<QCoro::Task<T>()>& start, TaskOutcome<T>* ended = nullptr)
{
    auto outcome = std::make_shared<TaskOutcome<T>>();
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    double longest = 0;
    QTimer loop;
    loop.setInterval(0);
    QObject::connect(&loop, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTurn.nsecsElapsed() / 1e6);
        sinceTurn.restart();
    });
    loop.start();
    auto runner = captureTask<T>(start(), outcome);
    waitUntil([&] { return outcome->done; }, 30000ms);
    longest = std::max(longest, sinceTurn.nsecsElapsed() / 1e6);
    if (ended)
        *ended = std::move(*outcome);
    return longest;
}

// An owner of the clipboard that answers with an incremental transfer and never stops sending 1 MB pieces.
void startEndlessOwner(QProcess& owner)
{
    owner.start(testing::helperProgramPath(QStringLiteral("tessvale-selection-owner")),
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--endless"), QStringLiteral("1048576") });
    waitUntil([&] { return owner.canReadLine() || owner.waitForReadyRead(100); }, 10000ms);
}

void SnapshotOfAnEndlessOwner(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    QProcess owner;
    startEndlessOwner(owner);
    const double before = residentMegabytes();
    double longest = 0;
    double block = 0;
    int whole = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        TaskOutcome<ClipboardReading> read;
        block = std::max(block,
            longestMainLoopGap<ClipboardReading>(
                [&platform] { return platform.clipboard->read(ClipboardSelection::clipboard); }, &read));
        longest = std::max(longest, timer.nsecsElapsed() / 1e6);
        whole += read.result && read.result->complete ? 1 : 0;
    }
    const double grown = residentMegabytes() - before;
    state.counters["longest_ms"] = longest;
    state.counters["main_loop_gap_ms"] = block;
    state.counters["grown_mb"] = grown;
    state.counters["read_whole"] = whole;
    std::fprintf(stderr,
        "snapshot of an endless owner: longest read %.0f ms, main loop blocked at most %.0f ms, process grew %.0f MB, "
        "%d read whole\n",
        longest, block, grown, whole);
    owner.kill();
    owner.waitForFinished(3000);
}

void PasteOverAnEndlessOwner(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    TextInsertionService service(diagnostics, {},
        TextInsertionPlatform { platform.clipboard, platform.injector, nullptr, platform.sessionInput });
    QProcess owner;
    startEndlessOwner(owner);
    const double before = residentMegabytes();
    double longest = 0;
    double block = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        block = std::max(block, longestMainLoopGap<void>([&service] {
            return service.insertWithPasteboard(QStringLiteral("dictated"), true);
        }));
        longest = std::max(longest, timer.nsecsElapsed() / 1e6);
    }
    const double grown = residentMegabytes() - before;
    state.counters["longest_ms"] = longest;
    state.counters["main_loop_gap_ms"] = block;
    state.counters["grown_mb"] = grown;
    std::fprintf(stderr,
        "paste over an endless owner: longest paste %.0f ms, main loop blocked at most %.0f ms, process grew %.0f MB\n",
        longest, block, grown);
    owner.kill();
    owner.waitForFinished(3000);
}

} // namespace

BENCHMARK(PasteInsertion)->Iterations(runCount())->Unit(benchmark::kMillisecond);
BENCHMARK(SnapshotOfAnEndlessOwner)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(PasteOverAnEndlessOwner)->Iterations(5)->Unit(benchmark::kMillisecond);
