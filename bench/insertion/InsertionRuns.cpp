#include "InsertionRuns.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>

#include "focus/FocusAppService.h"
#include "insertion/TextInsertionService.h"
#include "platform/PlatformServices.h"
#include "support/HelperPrograms.h"
#include "support/async/EventLoopWaits.h"

using namespace std::chrono_literals;

namespace tessvale::bench {

namespace {

QCoro::Task<> insertInto(TextInsertionService& service, QString text, bool paste, FocusedInsertionTargetRef target,
    std::shared_ptr<bool> done)
{
    try {
        QCoro::Task<TextInsertionResult> insertion
            = service.insert(std::move(text), false, paste, false, std::move(target));
        co_await insertion;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "insertion failed: %s\n", error.what());
    }
    *done = true;
}

// Waits until the target has started, holds the keyboard focus and shows a focused field.
FocusedInsertionTargetRef captureTarget(QProcess& target, FocusedAppDiagnosticsService& diagnostics)
{
    QByteArray output;
    waitUntil(
        [&] {
            output += target.readAllStandardOutput();
            return output.contains('\n');
        },
        10000ms);
    const auto pid = static_cast<qint32>(target.processId());
    FocusedInsertionTargetRef captured;
    const bool focused = waitUntil(
        [&] {
            captured = FocusAppService::currentInsertionTarget(diagnostics);
            // A loaded target may be announced frontmost before it has the keyboard focus.
            const auto keys = diagnostics.windowSystem().keyboardFocusWindow();
            if (captured && captured->application().processIdentifier == pid && captured->focusedElement() && keys
                && keys->processIdentifier == pid)
                return true;
            (void)diagnostics.windowSystem().requestActivation(pid);
            QThread::msleep(20);
            return false;
        },
        20000ms);
    if (!focused)
        std::fprintf(stderr, "target window never took the keyboard focus\n");
    return captured;
}

QString waitForReport(const QString& report, const QString& expected)
{
    QString arrived;
    waitUntil(
        [&] {
            QFile file(report);
            arrived = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            return arrived == expected;
        },
        5000ms);
    return arrived;
}

} // namespace

InsertionRunFigures runInsertions(
    benchmark::State& state, TextInsertionDriver driver, const QString& targetProgram, const QString& text)
{
    const PlatformServices platform = makePlatformServices();
    auto diagnostics = std::make_shared<FocusedAppDiagnosticsService>(platform.windows, platform.accessibility);
    TextInsertionHooks hooks;
    hooks.enabledDrivers = QList<TextInsertionDriver> { driver };
    TextInsertionService service(diagnostics, hooks,
        TextInsertionPlatform { platform.clipboard, platform.injector, nullptr, platform.sessionInput });
    InsertionRunFigures figures;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString report = dir.filePath(QStringLiteral("report.txt"));
        QProcess target;
        target.start(testing::helperProgramPath(targetProgram), { QStringLiteral("--report"), report });
        const FocusedInsertionTargetRef captured = captureTarget(target, *diagnostics);
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        auto done = std::make_shared<bool>(false);
        insertInto(service, text, driver == TextInsertionDriver::pasteboard, captured, done);
        waitUntil([&] { return *done; }, 30000ms);
        figures.seconds += timer.nsecsElapsed() / 1e9;

        state.PauseTiming();
        const QString arrived = waitForReport(report, text);
        ++figures.runs;
        if (arrived == text)
            ++figures.exactRuns;
        else
            std::fprintf(stderr, "run %d arrived %lld of %lld UTF-16 units: %s\n", figures.runs,
                static_cast<long long>(arrived.size()), static_cast<long long>(text.size()),
                qPrintable(arrived.left(120)));
        target.kill();
        target.waitForFinished(3000);
        state.ResumeTiming();
    }
    return figures;
}

} // namespace tessvale::bench
