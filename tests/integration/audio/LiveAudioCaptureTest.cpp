#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioDeviceMonitor.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/CaptureRecorder.h"
#include "support/audio/ToneAnalysis.h"

using namespace std::chrono_literals;
using namespace tessvale::testing;
using tessvale::AudioCaptureService;
using tessvale::AudioDeviceMonitor;
using tessvale::AudioInputDevice;
using tessvale::spinEventLoop;
using tessvale::waitUntil;

namespace {

constexpr double bytesPerSecond = 32000.0;
const QString testSourceName = QStringLiteral("Virtual Source mic on Monitor of Null Output");

class LiveAudioCapture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!soundServerAvailable()) {
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no sound server (run under scripts/test-env)";
        }
    }

    static QByteArray joined(const QList<QByteArray>& chunks, const QList<QByteArray>& leftovers)
    {
        QByteArray all;
        for (const QByteArray& chunk : chunks) {
            all += chunk;
        }
        for (const QByteArray& chunk : leftovers) {
            all += chunk;
        }
        return all;
    }

    // Records from the test microphone while paplay plays file into the null sink it listens to.
    QByteArray recordWhilePlaying(const QString& file, CaptureRecorder& recorder, double* seconds)
    {
        AudioCaptureService service(desktopAudio());
        service.start(QString("mic"), recorder.chunkHandler(), recorder.levelHandler());
        // The file's share of the recording is counted from here.
        EXPECT_TRUE(recorder.waitForChunks(1, 60s));
        QElapsedTimer elapsed;
        elapsed.start();
        const qsizetype bytesBefore = recorder.chunks().size() * 3200;
        QProcess player;
        player.start("paplay", { "-d", "virt", file });
        EXPECT_TRUE(player.waitForFinished(60000));
        EXPECT_EQ(player.exitCode(), 0) << player.readAllStandardError().toStdString();
        // The played audio is recorded once as much audio as the file holds has come in since it began.
        const double fileSeconds = runTool("soxi", { "-D", file }).trimmed().toDouble();
        EXPECT_GT(fileSeconds, 0.0);
        const auto played = static_cast<qsizetype>(fileSeconds * 32000);
        EXPECT_TRUE(waitUntil([&] { return recorder.chunks().size() * 3200 - bytesBefore >= played; }, 60s));
        const QList<QByteArray> leftovers = service.stop();
        *seconds = elapsed.elapsed() / 1000.0;
        EXPECT_FALSE(service.isRunning());
        return joined(recorder.chunks(), leftovers).mid(bytesBefore);
    }
};

} // namespace

TEST_F(LiveAudioCapture, DeviceListShowsTheTestMicrophoneAsTheDefault)
{
    const QList<AudioInputDevice> devices = AudioCaptureService::availableInputDevices(*desktopAudio());
    ASSERT_FALSE(devices.isEmpty());
    EXPECT_EQ(devices.first(), AudioInputDevice("mic", testSourceName));
    for (const AudioInputDevice& device : devices) {
        EXPECT_FALSE(device.uid.endsWith(".monitor")) << device.uid.toStdString();
    }
}

TEST_F(LiveAudioCapture, ToneIsCapturedAtOneKilohertzForTheRecordedDuration)
{
    const QString tone = temporaryPath("tone.wav");
    ASSERT_FALSE(runTool("sox", { "-n", "-r", "48000", "-c", "2", tone, "synth", "1", "sine", "1000" }).isNull());
    CaptureRecorder recorder;
    double seconds = 0;
    const QByteArray pcm = recordWhilePlaying(tone, recorder, &seconds);

    EXPECT_NEAR(pcm.size() / bytesPerSecond, seconds, 0.25);
    for (const QByteArray& chunk : recorder.chunks()) {
        EXPECT_EQ(chunk.size(), 3200);
    }
    const std::vector<double> samples = pcm16Samples(pcm);
    EXPECT_NEAR(dominantFrequency(samples, 16000.0, 100.0, 7900.0, 10.0), 1000.0, 10.0);
    float peak = 0;
    for (float level : recorder.levels()) {
        peak = std::max(peak, level);
    }
    EXPECT_GT(peak, 0.5F);
    EXPECT_EQ(recorder.levels().last(), 0.0F);
}

TEST_F(LiveAudioCapture, SpeechIsCapturedWithANonZeroLevel)
{
    const QString speech = temporaryPath("speech.wav");
    ASSERT_FALSE(runTool("espeak-ng", { "-w", speech, "Testing the microphone, one two three." }).isNull());
    CaptureRecorder recorder;
    double seconds = 0;
    const QByteArray pcm = recordWhilePlaying(speech, recorder, &seconds);

    EXPECT_NEAR(pcm.size() / bytesPerSecond, seconds, 0.25);
    EXPECT_GT(seconds, 1.0);
    const QList<float> levels = recorder.levels();
    const auto loud = std::count_if(levels.begin(), levels.end(), [](float level) { return level > 0.05F; });
    EXPECT_GT(loud, 5);
    EXPECT_GT(rootMeanSquare(pcm16Samples(pcm)), 0.005);
}

TEST_F(LiveAudioCapture, MonitorCallsBackWithinASecondWhenASourceComesAndGoes)
{
    std::atomic<int> calls { 0 };
    AudioDeviceMonitor monitor([&] { ++calls; }, desktopAudio());
    monitor.start();
    spinEventLoop(200ms);
    const int before = calls;

    const QString module = runTool("pactl",
        { "load-module", "module-virtual-source", "source_name=probe", "master=virt.monitor",
            "source_properties=device.description=Probe" });
    ASSERT_FALSE(module.isNull());
    EXPECT_TRUE(waitUntil([&] { return calls > before; }, 60s)) << "no callback after loading a source";
    EXPECT_TRUE(waitUntil(
        [] {
            for (const AudioInputDevice& device : AudioCaptureService::availableInputDevices(*desktopAudio())) {
                if (device.uid == "probe") {
                    return true;
                }
            }
            return false;
        },
        60s));

    spinEventLoop(200ms);
    const int beforeDefault = calls;
    ASSERT_FALSE(runTool("pactl", { "set-default-source", "probe" }).isNull());
    EXPECT_TRUE(waitUntil([&] { return calls > beforeDefault; }, 60s)) << "no callback for a new default input";
    EXPECT_EQ(AudioCaptureService::availableInputDevices(*desktopAudio()).first().uid, "probe");

    spinEventLoop(200ms);
    const int beforeUnload = calls;
    ASSERT_FALSE(runTool("pactl", { "unload-module", module }).isNull());
    EXPECT_TRUE(waitUntil([&] { return calls > beforeUnload; }, 60s)) << "no callback after unloading a source";
    runTool("pactl", { "set-default-source", "mic" });

    monitor.stop();
    spinEventLoop(100ms);
    const int afterStop = calls;
    const QString again
        = runTool("pactl", { "load-module", "module-virtual-source", "source_name=probe2", "master=virt.monitor" });
    spinEventLoop(300ms);
    EXPECT_EQ(calls.load(), afterStop);
    runTool("pactl", { "unload-module", again });
}

TEST_F(LiveAudioCapture, SourceRemovedMidRecordingEndsTheCaptureWithoutHanging)
{
    const QString module
        = runTool("pactl", { "load-module", "module-virtual-source", "source_name=doomed", "master=virt.monitor" });
    ASSERT_FALSE(module.isNull());
    ASSERT_TRUE(waitUntil(
        [] {
            for (const AudioInputDevice& device : AudioCaptureService::availableInputDevices(*desktopAudio())) {
                if (device.uid == "doomed") {
                    return true;
                }
            }
            return false;
        },
        60s));

    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    service.start(QString("doomed"), recorder.chunkHandler(), recorder.levelHandler(), recorder.endedHandler());
    ASSERT_TRUE(recorder.waitForChunks(3, 60s));
    ASSERT_FALSE(runTool("pactl", { "unload-module", module }).isNull());
    EXPECT_TRUE(recorder.waitForEnd(60s)) << "nobody was told that the microphone went away";
    EXPECT_FALSE(service.isRunning());
    const qsizetype settled = recorder.events().size();
    spinEventLoop(500ms);
    EXPECT_EQ(recorder.events().size(), settled) << "handlers still called after the device went away";
    EXPECT_EQ(
        recorder.ends(), QStringList { "Virtual Source doomed on Monitor of Null Output: the device was removed" });

    QElapsedTimer timer;
    timer.start();
    const QList<QByteArray> leftovers = service.stop();
    EXPECT_LT(timer.elapsed(), 2500);
    EXPECT_FALSE(service.isRunning());
    for (const QByteArray& chunk : leftovers) {
        EXPECT_LE(chunk.size(), 3200);
    }

    // The next recording on the default microphone works.
    CaptureRecorder next;
    service.start(std::nullopt, next.chunkHandler(), next.levelHandler());
    EXPECT_TRUE(next.waitForChunks(2, 60s));
    service.stop();
}

TEST_F(LiveAudioCapture, UnknownPreferredMicrophoneRecordsFromTheDefault)
{
    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    service.start(QString("no-such-source"), recorder.chunkHandler(), recorder.levelHandler());
    EXPECT_TRUE(recorder.waitForChunks(2, 60s));
    service.stop();
    EXPECT_THROW(
        {
            AudioCaptureService other(desktopAudio());
            other.start(QString("mic"), recorder.chunkHandler());
            try {
                other.start(QString("mic"), recorder.chunkHandler());
            } catch (...) {
                other.stop();
                throw;
            }
        },
        tessvale::AudioCaptureError);
}
