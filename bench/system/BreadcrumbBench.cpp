// Adding one breadcrumb with the error reporter started, with and without the crash handler, for
// rings of 10, 100 and 1000 breadcrumbs (kept full). The prepared crash report follows every
// breadcrumb, so its cost must not grow with the number kept.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "system/ErrorReporter.h"

using namespace tessvale;

namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "BreadcrumbBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

void addBreadcrumb(benchmark::State& state)
{
    application();
    QTemporaryDir dir;
    ErrorReporterOptions options;
    options.queueDirectory = dir.filePath("queue");
    options.installCrashHandler = state.range(0) != 0;
    options.breadcrumbCapacity = static_cast<int>(state.range(1));
    options.hangThreshold = std::chrono::milliseconds(0);
    auto reporter = ErrorReporter::create(
        ErrorMonitoringConfiguration { "http://KEY@127.0.0.1:9/1", "bench", "com.tessvale.mac@1.2+45", QString("45") },
        options);
    // A status line as the coordinator leaves one.
    const Breadcrumb line { QDateTime(), QStringLiteral("dictation"),
        QStringLiteral("Streaming: committed 42 characters of the transcript."), SentryLevel::info, {} };
    for (int i = 0; i < options.breadcrumbCapacity; ++i)
        reporter->addBreadcrumb(line);
    for (auto _ : state)
        reporter->addBreadcrumb(line);
    state.SetLabel(options.installCrashHandler ? "crash handler installed" : "no crash handler");
}

} // namespace

BENCHMARK(addBreadcrumb)
    ->ArgNames({ "crashHandler", "kept" })
    ->ArgsProduct({ { 0, 1 }, { 10, 100, 1000 } })
    ->Unit(benchmark::kMicrosecond);
