// The coordinator's own cost in a dictation, over the test harness's scripted stream and virtual
// time (no socket, no real waits):
//   SessionStreamingMainThreadCpu: main-thread CPU time per second of streamed audio (ten 3200-byte
//     chunks handed over, Base64-encoded and sent), as the counter ms_per_audio_second;
//   ReleaseToStopSession: from the key release to the StopSession frame handed to the transport,
//     the 0.175 s grace being virtual, as the manual time per iteration.
//   build/bin/SessionStreamingBench
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>

#include <QCoreApplication>

#include "support/coordinator/CoordinatorHarness.h"

using namespace std::chrono_literals;
using namespace tessvale;

namespace {

using Clock = std::chrono::steady_clock;

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "SessionStreamingBench";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    return app;
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

void SessionStreamingMainThreadCpu(benchmark::State& state)
{
    application();
    CoordinatorHarness h;
    h.prepareDictation();
    h.openDictation(true);
    const QByteArray chunk(3200, 'a');
    double cpuSeconds = 0;
    for (auto _ : state) {
        h.stream().sent.clear();
        const double before = threadCpuSeconds();
        for (int i = 0; i < 10; ++i)
            h.fakeRecorder.chunk(chunk);
        QCoreApplication::processEvents();
        const double spent = threadCpuSeconds() - before;
        cpuSeconds += spent;
        state.SetIterationTime(spent);
        if (h.stream().sent.size() != 10) {
            state.SkipWithError("the chunks were not all sent in one turn of the event loop");
            break;
        }
    }
    state.counters["ms_per_audio_second"] = 1000.0 * cpuSeconds / static_cast<double>(state.iterations());
}

void ReleaseToStopSession(benchmark::State& state)
{
    application();
    CoordinatorHarness h;
    h.prepareDictation();
    const QByteArray chunk(3200, 'a');
    for (auto _ : state) {
        const QUuid id = h.openDictation();
        for (int i = 0; i < 5; ++i)
            h.fakeRecorder.chunk(chunk);
        h.settle();
        h.fakeRecorder.leftover = { QByteArray(1600, 'b') };

        const auto releasedAt = Clock::now();
        h.coordinator().stopPushToTalk();
        QCoreApplication::processEvents();
        h.sleeper().advance(175ms);
        const auto stoppedAt = Clock::now();
        if (h.stream().sent.isEmpty()
            || h.stream().sent.last().messageCase() != ClientStreamMessage::Case::stopSession) {
            state.SkipWithError("no StopSession after the grace");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(stoppedAt - releasedAt).count());
        h.deliver(ServerStreamMessage::sessionCompleted(id));
    }
}

} // namespace

BENCHMARK(SessionStreamingMainThreadCpu)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ReleaseToStopSession)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
