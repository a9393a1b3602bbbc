// Types a text into a text-field target with the typing driver, 20 times, and checks every run
// arrived exactly. Run inside scripts/test-env; scripts/typing-under-load runs it on a loaded machine.
//   TESSVALE_TYPING_TARGET  qt (default: tessvale-text-target) or gtk (tessvale-gtk-text-target)
//   TESSVALE_TYPING_TEXT    mixed (default: 500 mixed characters) or paragraph (the 300-character one)
//   TESSVALE_TYPING_RUNS    how many runs (default 20)
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "InsertionRuns.h"
#include "InsertionTexts.h"

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

void UnicodeTyping(benchmark::State& state)
{
    application();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        state.SkipWithError("needs the private desktop (scripts/test-env)");
        return;
    }
    const QString text = benchText();
    const auto characters = characterCount(text);
    const bench::InsertionRunFigures figures
        = bench::runInsertions(state, TextInsertionDriver::unicodeTyping, targetProgram(), text);
    const double charsPerSecond = figures.seconds > 0 ? characters * figures.runs / figures.seconds : 0;
    state.counters["runs"] = figures.runs;
    state.counters["correct_runs"] = figures.exactRuns;
    state.counters["chars_per_second"] = charsPerSecond;
    std::fprintf(stderr, "%s into %s: %d of %d runs exact, %.0f characters per second\n",
        qPrintable(qEnvironmentVariable("TESSVALE_TYPING_TEXT", QStringLiteral("mixed"))), qPrintable(targetProgram()),
        figures.exactRuns, figures.runs, charsPerSecond);
    if (figures.exactRuns != figures.runs)
        state.SkipWithError("some runs did not arrive exactly");
}

} // namespace

BENCHMARK(UnicodeTyping)->Iterations(runCount())->Unit(benchmark::kMillisecond);
