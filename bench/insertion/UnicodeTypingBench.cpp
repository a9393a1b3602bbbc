// Types a text into a text-field target with the typing driver, 20 times, and checks every run
// arrived exactly. Run inside scripts/test-env; scripts/typing-under-load runs it on a loaded machine.
//   TESSVALE_TYPING_TARGET  qt (default: tessvale-text-target) or gtk (tessvale-gtk-text-target)
//   TESSVALE_TYPING_TEXT    mixed (default: 500 mixed characters) or paragraph (the 300-character one)
//   TESSVALE_TYPING_RUNS    how many runs (default 20)
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "UnicodeTypingBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

QString benchText()
{
    return qEnvironmentVariable("TESSVALE_TYPING_TEXT") == QLatin1String("paragraph")
        ? testing::capitalAccentedParagraph()
        : testing::mixedTypingText();
}

QString targetProgram()
{
    return qEnvironmentVariable("TESSVALE_TYPING_TARGET") == QLatin1String("gtk")
        ? QStringLiteral("tessvale-gtk-text-target")
        : QStringLiteral("tessvale-text-target");
}

int runCount()
{
    const int runs = qEnvironmentVariableIntValue("TESSVALE_TYPING_RUNS");
    return runs > 0 ? runs : 20;
}

QCoro::Task<> typeInto(
    TextInsertionService& service, QString text, FocusedInsertionTargetRef target, std::shared_ptr<bool> done)
{
    try {
        co_await service.insert(std::move(text), false, false, false, std::move(target));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "typing failed: %s\n", error.what());
    }
    *done = true;
}

void UnicodeTyping(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const PlatformServices platform = makePlatformServices();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    TextInsertionHooks hooks;
    hooks.enabledDrivers = QList<TextInsertionDriver> { TextInsertionDriver::unicodeTyping };
    TextInsertionService service(diagnostics, hooks,
        TextInsertionPlatform { platform.clipboard, platform.injector, nullptr, platform.sessionInput });
    const QString text = benchText();
    const auto characters = characterCount(text);
    int correct = 0;
    int runs = 0;
    double typingSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString report = dir.filePath(QStringLiteral("report.txt"));
        QProcess target;
        target.start(testing::helperProgramPath(targetProgram()), { QStringLiteral("--report"), report });
        QByteArray output;
        waitUntil(
            [&] {
                output += target.readAllStandardOutput();
                return output.contains('\n');
            },
            10000ms);
        const auto pid = static_cast<qint32>(target.processId());
        const bool active = waitUntil(
            [&] {
                const auto app = diagnostics->windowSystem().frontmostApplication();
                if (app && app->processIdentifier == pid)
                    return true;
                static_cast<void>(diagnostics->windowSystem().requestActivation(pid));
                QThread::msleep(20);
                return false;
            },
            10000ms);
        if (!active)
            std::fprintf(stderr, "target window never became active\n");
        // The insertion goes through the whole service: activation, focus restore, readiness, typing.
        FocusedInsertionTargetRef captured;
        waitUntil(
            [&] {
                captured = FocusAppService::currentInsertionTarget(*diagnostics);
                // A loaded target may be announced frontmost before it has the keyboard focus.
                const auto keys = diagnostics->windowSystem().keyboardFocusWindow();
                return captured && captured->application().processIdentifier == pid && captured->focusedElement()
                    && keys && keys->processIdentifier == pid;
            },
            20000ms);
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        auto done = std::make_shared<bool>(false);
        typeInto(service, text, captured, done);
        waitUntil([&] { return *done; }, 30000ms);
        typingSeconds += timer.nsecsElapsed() / 1e9;

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
        if (arrived != text)
            std::fprintf(stderr, "run %d arrived %lld of %lld UTF-16 units: %s\n", runs,
                static_cast<long long>(arrived.size()), static_cast<long long>(text.size()),
                qPrintable(arrived.left(120)));
        target.kill();
        target.waitForFinished(3000);
        state.ResumeTiming();
    }
    state.counters["runs"] = runs;
    state.counters["correct_runs"] = correct;
    state.counters["chars_per_second"] = typingSeconds > 0 ? characters * runs / typingSeconds : 0;
    std::fprintf(stderr, "%s into %s: %d of %d runs exact, %.0f characters per second\n",
        qPrintable(qEnvironmentVariable("TESSVALE_TYPING_TEXT", QStringLiteral("mixed"))), qPrintable(targetProgram()),
        correct, runs, typingSeconds > 0 ? characters * runs / typingSeconds : 0.0);
    if (correct != runs)
        state.SkipWithError("some runs did not arrive exactly");
}

} // namespace

BENCHMARK(UnicodeTyping)->Iterations(runCount())->Unit(benchmark::kMillisecond);
