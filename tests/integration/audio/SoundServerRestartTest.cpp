#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <QElapsedTimer>
#include <QStandardPaths>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioDeviceMonitor.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/CaptureRecorder.h"

using namespace std::chrono_literals;
using namespace tessvale::testing;
using tessvale::AudioCaptureService;
using tessvale::AudioDeviceMonitor;
using tessvale::AudioInputDevice;
using tessvale::spinEventLoop;
using tessvale::waitUntil;

namespace {

bool listed(const QString& uid)
{
    for (const AudioInputDevice& device : AudioCaptureService::availableInputDevices(*desktopAudio())) {
        if (device.uid == uid) {
            return true;
        }
    }
    return false;
}

// A server of the test's own, so that killing it leaves the desktop's alone.
class SoundServerRestart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty()) {
            GTEST_SKIP() << "no pulseaudio to start";
        }
        ASSERT_TRUE(m_server.start());
        ASSERT_TRUE(waitUntil([] { return listed("sine"); }, 60s));
    }

    PrivateSoundServer m_server;
};

} // namespace

TEST_F(SoundServerRestart, MonitorHearsChangesAgainAfterTheServerComesBack)
{
    std::atomic<int> calls { 0 };
    AudioDeviceMonitor monitor([&] { ++calls; }, desktopAudio());
    monitor.start();

    m_server.kill();
    EXPECT_TRUE(waitUntil([&] { return calls > 0; }, 60s)) << "no callback when the server went away";
    EXPECT_TRUE(AudioCaptureService::availableInputDevices(*desktopAudio()).isEmpty());

    const int beforeRestart = calls;
    ASSERT_TRUE(m_server.start());
    EXPECT_TRUE(waitUntil([&] { return calls > beforeRestart; }, 60s)) << "no callback when the server came back";
    EXPECT_TRUE(listed("sine"));

    spinEventLoop(200ms);
    const int beforeLoad = calls;
    ASSERT_FALSE(runTool("pactl", { "load-module", "module-sine-source", "source_name=probe" }).isNull());
    EXPECT_TRUE(waitUntil([&] { return calls > beforeLoad; }, 60s)) << "deaf after the restart";
    EXPECT_TRUE(monitor.isMonitoring());
}

TEST_F(SoundServerRestart, RecordingEndsWithAReasonWhenTheServerIsKilled)
{
    const QString deviceName = AudioCaptureService::availableInputDevices(*desktopAudio()).first().name;
    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    service.start(QString("sine"), recorder.chunkHandler(), recorder.levelHandler(), recorder.endedHandler());
    ASSERT_TRUE(recorder.waitForChunks(2, 60s));

    m_server.kill();
    EXPECT_TRUE(recorder.waitForEnd(60s));
    EXPECT_FALSE(service.isRunning());
    QElapsedTimer timer;
    timer.start();
    service.stop();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(recorder.ends(), QStringList { deviceName + ": the sound server went away" });

    // The next recording connects to the new server, not over what was left of the old one.
    ASSERT_TRUE(m_server.start());
    ASSERT_TRUE(waitUntil([] { return listed("sine"); }, 2000ms));
    CaptureRecorder again;
    service.start(QString("sine"), again.chunkHandler(), again.levelHandler(), again.endedHandler());
    EXPECT_TRUE(again.waitForChunks(2, 3s));
    service.stop();
}
