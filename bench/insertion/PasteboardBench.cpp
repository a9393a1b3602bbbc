// The paste driver on the private desktop (run inside scripts/test-env):
//   PasteInsertion: pastes the 300-character paragraph into a text-field target through the whole
//     service, restoring the clipboard, and checks every run arrived exactly (characters per second
//     and milliseconds per paste).
//   SnapshotOfAnEndlessOwner: reads the clipboard from an owner that answers with an incremental
//     transfer and never stops sending 1 MB pieces (milliseconds per read, and how much the
//     process grew).
//   TESSVALE_PASTE_RUNS  how many pastes (default 10)
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "InsertionTexts.h"
#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"
#include "platform/PlatformServices.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"

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

QCoro::Task<> pasteInto(
    TextInsertionService& service, QString text, FocusedInsertionTargetRef target, std::shared_ptr<bool> done)
{
    try {
        co_await service.insert(std::move(text), false, true, false, std::move(target));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "paste failed: %s\n", error.what());
    }
    *done = true;
}

void PasteInsertion(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    TextInsertionHooks hooks;
    hooks.enabledDrivers = QList<TextInsertionDriver> { TextInsertionDriver::pasteboard };
    TextInsertionService service(diagnostics, hooks,
        TextInsertionPlatform { platform.clipboard, platform.injector, nullptr, platform.sessionInput });
    const QString text = testing::capitalAccentedParagraph();
    const auto characters = characterCount(text);
    int correct = 0;
    int runs = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString report = dir.filePath(QStringLiteral("report.txt"));
        QProcess target;
        target.start(
            testing::helperProgramPath(QStringLiteral("tessvale-text-target")), { QStringLiteral("--report"), report });
        QByteArray output;
        waitUntil(
            [&] {
                output += target.readAllStandardOutput();
                return output.contains('\n');
            },
            10000ms);
        const auto pid = static_cast<qint32>(target.processId());
        FocusedInsertionTargetRef captured;
        waitUntil(
            [&] {
                captured = FocusAppService::currentInsertionTarget(*diagnostics);
                if (captured && captured->application().processIdentifier == pid && captured->focusedElement())
                    return true;
                static_cast<void>(diagnostics->windowSystem().requestActivation(pid));
                QThread::msleep(20);
                return false;
            },
            20000ms);
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        auto done = std::make_shared<bool>(false);
        pasteInto(service, text, captured, done);
        waitUntil([&] { return *done; }, 30000ms);
        seconds += timer.nsecsElapsed() / 1e9;

        state.PauseTiming();
        QString arrived;
        waitUntil(
            [&] {
                QFile file(report);
                arrived = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
                return arrived == text;
            },
            5000ms);
        ++runs;
        correct += arrived == text ? 1 : 0;
        target.kill();
        target.waitForFinished(3000);
        state.ResumeTiming();
    }
    state.counters["runs"] = runs;
    state.counters["correct_runs"] = correct;
    state.counters["chars_per_second"] = seconds > 0 ? characters * runs / seconds : 0;
    state.counters["ms_per_paste"] = runs > 0 ? seconds * 1000 / runs : 0;
    std::fprintf(stderr, "paste: %d of %d runs exact, %.0f characters per second, %.0f ms per paste\n", correct, runs,
        seconds > 0 ? characters * runs / seconds : 0.0, runs > 0 ? seconds * 1000 / runs : 0.0);
    if (correct != runs)
        state.SkipWithError("some runs did not arrive exactly");
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
    owner.start(testing::helperProgramPath(QStringLiteral("tessvale-selection-owner")),
        { QStringLiteral("--text"), QStringLiteral("copied"), QStringLiteral("--endless"), QStringLiteral("1048576") });
    waitUntil([&] { return owner.canReadLine() || owner.waitForReadyRead(100); }, 10000ms);
    const double before = residentMegabytes();
    double longest = 0;
    int whole = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const ClipboardReading reading = platform.clipboard->read(ClipboardSelection::clipboard);
        longest = std::max(longest, timer.nsecsElapsed() / 1e6);
        whole += reading.complete ? 1 : 0;
    }
    const double grown = residentMegabytes() - before;
    state.counters["longest_ms"] = longest;
    state.counters["grown_mb"] = grown;
    state.counters["read_whole"] = whole;
    std::fprintf(stderr, "snapshot of an endless owner: longest read %.0f ms, process grew %.0f MB, %d read whole\n",
        longest, grown, whole);
    owner.kill();
    owner.waitForFinished(3000);
}

} // namespace

BENCHMARK(PasteInsertion)->Iterations(runCount())->Unit(benchmark::kMillisecond);
BENCHMARK(SnapshotOfAnEndlessOwner)->Iterations(5)->Unit(benchmark::kMillisecond);
