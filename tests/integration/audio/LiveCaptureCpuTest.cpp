#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QThread>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "support/audio/CaptureRecorder.h"

using tessvale::testing::desktopAudio;
using namespace std::chrono_literals;
using tessvale::AudioCaptureService;
using tessvale::testing::CaptureRecorder;

namespace {

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(LiveCaptureCpu, TenSecondsOfCaptureUseLittleOfOneCore)
{
    if (!tessvale::testing::soundServerAvailable()) {
        GTEST_SKIP() << "no sound server (run under scripts/test-env)";
    }
    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    service.start(QString("mic"), recorder.chunkHandler(), recorder.levelHandler());
    ASSERT_TRUE(recorder.waitForChunks(1, 5s));
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(10);
    const double cpu = processCpuSeconds() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;
    service.stop();
    const double share = 100.0 * cpu / seconds;
    std::printf("CPU share of live capture: %.2f %% of one core over %.1f s (%lld chunks)\n", share, seconds,
        static_cast<long long>(recorder.chunks().size()));
    RecordProperty("cpu_percent", QString::number(share, 'f', 2).toStdString());
    EXPECT_LT(share, 10.0);
    EXPECT_GE(recorder.chunks().size(), 95);
}
