// The share of one core that a live recording takes: records the virtual microphone of the private
// desktop for ten seconds and reports the process's CPU time over the wall time as the counter
// cpu_percent (with chunks_per_second, which should be 10). It needs the sound server that
// scripts/test-env starts:
//   scripts/test-env build/bin/LiveCaptureCpuBench
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <string>
#include <thread>

#include "audio/AudioCaptureService.h"
#include "platform/PlatformServices.h"

using namespace std::chrono_literals;
using tessvale::AudioCaptureService;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto measuredSpan = 10s;
constexpr auto firstChunkTimeout = 5s;

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void LiveCaptureCpuShare(benchmark::State& state)
{
    std::atomic<qint64> chunks { 0 };
    double cpuSeconds = 0;
    double wallSeconds = 0;
    qint64 measuredChunks = 0;
    for (auto _ : state) {
        AudioCaptureService service(tessvale::makePlatformServices().audio);
        chunks = 0;
        try {
            service.start(
                QStringLiteral("mic"), [&chunks](const QByteArray&) { ++chunks; }, [](float) {});
        } catch (const std::exception& error) {
            state.SkipWithError((std::string("needs the sound server of scripts/test-env: ") + error.what()).c_str());
            break;
        }
        // Measure once audio flows, so that opening the stream is not counted.
        const auto startedAt = Clock::now();
        while (chunks == 0 && Clock::now() - startedAt < firstChunkTimeout)
            std::this_thread::sleep_for(10ms);
        if (chunks == 0) {
            service.stop();
            state.SkipWithError("no audio arrived from the microphone \"mic\"");
            break;
        }
        const double cpuBefore = processCpuSeconds();
        const qint64 chunksBefore = chunks;
        const auto wallBefore = Clock::now();
        std::this_thread::sleep_for(measuredSpan);
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        cpuSeconds += processCpuSeconds() - cpuBefore;
        measuredChunks += chunks - chunksBefore;
        service.stop();
        wallSeconds += wall;
        state.SetIterationTime(wall);
    }
    if (wallSeconds > 0) {
        state.counters["cpu_percent"] = 100.0 * cpuSeconds / wallSeconds;
        state.counters["chunks_per_second"] = measuredChunks / wallSeconds;
    }
}

} // namespace

BENCHMARK(LiveCaptureCpuShare)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
