// Types a 500-character mixed ASCII and non-ASCII text into the text-field target with the typing
// driver, 20 times, and checks every run arrived exactly. Run inside scripts/test-env.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"

using namespace tessvale;

namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "UnicodeTypingBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

QString mixedText()
{
    const QString seed = QStringLiteral(
        "The quick brown fox jumps over 13 lazy dogs; Ärger über Öl, Ça coûte 5 € — ÉTÉ à Łódź, ñ, ß, Ø! ");
    QString text;
    while (text.size() < 498)
        text += seed;
    return text.left(498) + QStringLiteral("🎤");
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
    QString binDir = qEnvironmentVariable("TESSVALE_BIN_DIR");
    if (binDir.isEmpty())
        binDir = QCoreApplication::applicationDirPath();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>();
    TextInsertionHooks hooks;
    hooks.enabledDrivers = QList<TextInsertionDriver> { TextInsertionDriver::unicodeTyping };
    TextInsertionService service(diagnostics, hooks);
    const QString text = mixedText();
    const auto characters = characterCount(text);
    int correct = 0;
    int runs = 0;
    double typingSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString report = dir.filePath(QStringLiteral("report.txt"));
        QProcess target;
        target.start(
            QDir(binDir).filePath(QStringLiteral("tessvale-text-target")), { QStringLiteral("--report"), report });
        QByteArray output;
        pumpUntil(
            [&] {
                output += target.readAllStandardOutput();
                return output.contains('\n');
            },
            10000);
        const auto pid = static_cast<qint32>(target.processId());
        const bool active = pumpUntil(
            [&] {
                const auto app = diagnostics->windowSystem().frontmostApplication();
                if (app && app->processIdentifier == pid)
                    return true;
                diagnostics->windowSystem().requestActivation(pid);
                QThread::msleep(20);
                return false;
            },
            10000);
        if (!active)
            std::fprintf(stderr, "target window never became active\n");
        // The insertion goes through the whole service: activation, focus restore, readiness, typing.
        FocusedInsertionTargetRef captured;
        pumpUntil(
            [&] {
                captured = FocusAppService::currentInsertionTarget(*diagnostics);
                return captured && captured->application().processIdentifier == pid && captured->focusedElement();
            },
            10000);
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        auto done = std::make_shared<bool>(false);
        typeInto(service, text, captured, done);
        pumpUntil([&] { return *done; }, 30000);
        typingSeconds += timer.nsecsElapsed() / 1e9;

        state.PauseTiming();
        QString arrived;
        pumpUntil(
            [&] {
                QFile file(report);
                arrived = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
                return arrived == text;
            },
            5000);
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
    std::fprintf(stderr, "%d of %d runs exact, %.0f characters per second\n", correct, runs,
        typingSeconds > 0 ? characters * runs / typingSeconds : 0.0);
    if (correct != runs)
        state.SkipWithError("some runs did not arrive exactly");
}

} // namespace

BENCHMARK(UnicodeTyping)->Iterations(20)->Unit(benchmark::kMillisecond);
