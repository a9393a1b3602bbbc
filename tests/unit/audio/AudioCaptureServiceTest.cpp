#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "audio/AudioCaptureService.h"
#include "audio/AudioChunkAccumulator.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/CaptureRecorder.h"
#include "support/audio/FakeAudioSystem.h"

using namespace std::chrono_literals;
using tessvale::AudioCaptureError;
using tessvale::AudioCaptureService;
using tessvale::AudioEngineError;
using tessvale::AudioSampleType;
using tessvale::AudioSystemDevice;
using tessvale::spinEventLoop;
using tessvale::waitUntil;
using tessvale::testing::CaptureRecorder;
using tessvale::testing::constantPcm16;
using tessvale::testing::FakeAudioSystem;

namespace {

// Distinct bytes, so reordering or loss shows up in a comparison.
QByteArray ramp(qsizetype size, int offset = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i + offset) * 7 % 251);
    }
    return bytes;
}

class AudioCaptureServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        system = std::make_shared<FakeAudioSystem>();
        system->deviceList = { { "mic", "Built-in Microphone", 1 }, { "usb", "USB Headset", 2 } };
        system->defaultUID = "mic";
    }

    void startRecording(std::optional<QString> uid = std::nullopt)
    {
        service->start(uid, recorder.chunkHandler(), recorder.levelHandler());
    }

    void deliverInBlocks(const QByteArray& bytes, qsizetype blockSize)
    {
        for (qsizetype at = 0; at < bytes.size(); at += blockSize) {
            ASSERT_TRUE(system->deliver(bytes.mid(at, blockSize)));
        }
    }

    std::shared_ptr<FakeAudioSystem> system;
    std::unique_ptr<AudioCaptureService> service = nullptr;
    CaptureRecorder recorder;

    void makeService(std::chrono::milliseconds drainTimeout = AudioCaptureService::defaultDrainTimeout)
    {
        service = std::make_unique<AudioCaptureService>(system, drainTimeout);
    }
};

} // namespace

TEST(AudioCaptureConstants, DescribeSixteenKilohertzMonoInTenthOfASecondChunks)
{
    EXPECT_EQ(AudioCaptureService::sampleRate, 16000);
    EXPECT_EQ(AudioCaptureService::channels, 1u);
    EXPECT_EQ(AudioCaptureService::chunkMilliseconds, 100);
    EXPECT_EQ(AudioCaptureService::bytesPerChunk, 3200);
}

TEST(AudioCaptureErrorTexts, AreTheOnesUsersSee)
{
    EXPECT_EQ(AudioCaptureError::inputUnavailable().localizedDescription(), "No microphone input is available.");
    EXPECT_EQ(AudioCaptureError::outputFormatUnavailable().localizedDescription(),
        "Unable to create the recorder output format.");
    EXPECT_EQ(AudioCaptureError::converterUnavailable().localizedDescription(),
        "Unable to create the recorder audio converter.");
    EXPECT_EQ(AudioCaptureError::alreadyRunning().localizedDescription(), "Recorder is already running.");
    EXPECT_EQ(AudioCaptureError::deviceSelectionFailed().localizedDescription(),
        "Unable to switch to the selected microphone.");
    EXPECT_STREQ(AudioCaptureError::alreadyRunning().what(), "Recorder is already running.");
}

TEST(AudioLevel, SilenceIsZeroAndFullScaleIsOne)
{
    EXPECT_EQ(tessvale::audioLevel(constantPcm16(1600, 0)), 0.0F);
    EXPECT_EQ(tessvale::audioLevel(constantPcm16(1600, 32767)), 1.0F);
    EXPECT_EQ(tessvale::audioLevel(constantPcm16(1600, -32767)), 1.0F);
    EXPECT_EQ(tessvale::audioLevel(QByteArray(1, '\x7f')), 0.0F);
    EXPECT_EQ(tessvale::audioLevel(QByteArray()), 0.0F);
}

TEST(AudioLevel, IsRootMeanSquareTimesThreePointTwo)
{
    EXPECT_NEAR(tessvale::audioLevel(constantPcm16(1600, 1000)), 1000.0F / 32767.0F * 3.2F, 1e-5);
    // An odd trailing byte is not a sample.
    QByteArray withTail = constantPcm16(10, 2000) + QByteArray(1, '\x40');
    EXPECT_NEAR(tessvale::audioLevel(withTail), 2000.0F / 32767.0F * 3.2F, 1e-5);
}

TEST(AudioChunkAccumulatorRules, DrainKeepsTheRemainderAndFlushAddsItUnpadded)
{
    tessvale::AudioChunkAccumulator accumulator;
    accumulator.append(ramp(7000));
    const QList<QByteArray> drained = accumulator.drain();
    ASSERT_EQ(drained.size(), 2);
    EXPECT_EQ(accumulator.pending.size(), 600);
    const QList<QByteArray> flushed = accumulator.flush(true);
    ASSERT_EQ(flushed.size(), 1);
    EXPECT_EQ(flushed[0], ramp(7000).mid(6400));
    EXPECT_TRUE(accumulator.pending.isEmpty());
    accumulator.append(ramp(100));
    EXPECT_TRUE(accumulator.flush(false).isEmpty());
    EXPECT_TRUE(accumulator.pending.isEmpty());
}

TEST_F(AudioCaptureServiceTest, SevenThousandBytesGiveTwoChunksAndA600ByteRemainder)
{
    makeService();
    startRecording();
    const QByteArray captured = ramp(7000);
    deliverInBlocks(captured, 700);
    const QList<QByteArray> leftovers = service->stop();

    const QList<QByteArray> chunks = recorder.chunks();
    ASSERT_EQ(chunks.size(), 2);
    EXPECT_EQ(chunks[0], captured.mid(0, 3200));
    EXPECT_EQ(chunks[1], captured.mid(3200, 3200));
    ASSERT_EQ(leftovers.size(), 1);
    EXPECT_EQ(leftovers[0], captured.mid(6400));
    EXPECT_FALSE(service->isRunning());
}

TEST_F(AudioCaptureServiceTest, ExactlySixtyFourHundredBytesGiveTwoChunksAndNoRemainder)
{
    makeService();
    startRecording();
    deliverInBlocks(ramp(6400), 1000);
    const QList<QByteArray> leftovers = service->stop();
    EXPECT_EQ(recorder.chunks().size(), 2);
    EXPECT_TRUE(leftovers.isEmpty());
}

TEST_F(AudioCaptureServiceTest, LevelsAndChunksArriveInCaptureOrderAndStopEndsWithOneZeroLevel)
{
    makeService();
    startRecording();
    ASSERT_TRUE(system->deliver(constantPcm16(1600, 1000)));
    ASSERT_TRUE(system->deliver(constantPcm16(1600, 32767)));
    service->stop();

    const QList<CaptureRecorder::Event> events = recorder.events();
    ASSERT_EQ(events.size(), 5);
    EXPECT_EQ(events[0].kind, CaptureRecorder::Event::Level);
    EXPECT_NEAR(events[0].level, 1000.0F / 32767.0F * 3.2F, 1e-5);
    EXPECT_EQ(events[1].kind, CaptureRecorder::Event::Chunk);
    EXPECT_EQ(events[1].chunk, constantPcm16(1600, 1000));
    EXPECT_EQ(events[2].kind, CaptureRecorder::Event::Level);
    EXPECT_EQ(events[2].level, 1.0F);
    EXPECT_EQ(events[3].kind, CaptureRecorder::Event::Chunk);
    EXPECT_EQ(events[4].kind, CaptureRecorder::Event::Level);
    EXPECT_EQ(events[4].level, 0.0F);
}

TEST_F(AudioCaptureServiceTest, StopWhenIdleReturnsNothingAndCallsNoHandler)
{
    makeService();
    EXPECT_TRUE(service->stop().isEmpty());
    startRecording();
    service->stop();
    const qsizetype eventsAfterFirstStop = recorder.events().size();
    EXPECT_TRUE(service->stop().isEmpty());
    EXPECT_EQ(recorder.events().size(), eventsAfterFirstStop);
}

TEST_F(AudioCaptureServiceTest, SecondStartWhileRecordingThrowsAlreadyRunningAndRecordingGoesOn)
{
    makeService();
    startRecording();
    CaptureRecorder intruder;
    try {
        service->start(QString("usb"), intruder.chunkHandler(), intruder.levelHandler());
        FAIL() << "expected alreadyRunning";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Case::alreadyRunning);
        EXPECT_EQ(error.localizedDescription(), "Recorder is already running.");
    }
    EXPECT_TRUE(service->isRunning());
    EXPECT_EQ(system->openedUIDs(), QStringList { "mic" });
    deliverInBlocks(ramp(3200), 3200);
    service->stop();
    EXPECT_EQ(recorder.chunks().size(), 1);
    EXPECT_TRUE(intruder.events().isEmpty());
}

TEST_F(AudioCaptureServiceTest, PreferredDeviceIsUsedWhenItsUidMatchesExactlyAfterTrimming)
{
    makeService();
    startRecording(QString(" usb\n"));
    service->stop();
    startRecording(QString("USB"));
    service->stop();
    EXPECT_EQ(system->openedUIDs(), (QStringList { "usb", "mic" }));
}

TEST_F(AudioCaptureServiceTest, BlankOrUnknownPreferenceFallsBackToTheDefaultInput)
{
    makeService();
    for (const std::optional<QString>& preference : { std::optional<QString>(), std::optional<QString>("  "),
             std::optional<QString>(""), std::optional<QString>("gone-device") }) {
        startRecording(preference);
        EXPECT_TRUE(service->isRunning());
        service->stop();
    }
    EXPECT_EQ(system->openedUIDs(), (QStringList { "mic", "mic", "mic", "mic" }));
}

TEST_F(AudioCaptureServiceTest, NoDefaultInputAndNoMatchIsInputUnavailable)
{
    system->defaultUID.reset();
    makeService();
    for (const std::optional<QString>& preference : { std::optional<QString>(), std::optional<QString>("other") }) {
        try {
            startRecording(preference);
            FAIL() << "expected inputUnavailable";
        } catch (const AudioCaptureError& error) {
            EXPECT_EQ(error.kind(), AudioCaptureError::Case::inputUnavailable);
        }
    }
    EXPECT_FALSE(service->isRunning());
    EXPECT_TRUE(recorder.events().isEmpty());
}

TEST_F(AudioCaptureServiceTest, StartFailuresLeaveTheServiceIdleAndReusable)
{
    makeService();
    system->failDeviceSelection = true;
    EXPECT_THROW(
        {
            try {
                startRecording();
            } catch (const AudioCaptureError& error) {
                EXPECT_EQ(error.kind(), AudioCaptureError::Case::deviceSelectionFailed);
                throw;
            }
        },
        AudioCaptureError);
    system->failDeviceSelection = false;

    system->streamFormat = { 48000, 0, AudioSampleType::Float32 };
    try {
        startRecording();
        FAIL() << "expected inputUnavailable";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Case::inputUnavailable);
    }
    system->streamFormat = { 0, 2, AudioSampleType::Float32 };
    try {
        startRecording();
        FAIL() << "expected converterUnavailable";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Case::converterUnavailable);
    }
    EXPECT_FALSE(service->isRunning());
    // Failures before the stream starts leave the handlers untouched: no zero level.
    EXPECT_TRUE(recorder.events().isEmpty());

    system->streamFormat = { 16000, 1, AudioSampleType::Int16 };
    startRecording();
    EXPECT_TRUE(service->isRunning());
    service->stop();
}

TEST_F(AudioCaptureServiceTest, EngineStartFailureIsPassedOnAndResetsWithAZeroLevel)
{
    makeService();
    system->engineStartError = QString("Connection refused");
    try {
        startRecording();
        FAIL() << "expected the engine's error";
    } catch (const AudioEngineError& error) {
        EXPECT_STREQ(error.what(), "Connection refused");
    }
    EXPECT_FALSE(service->isRunning());
    EXPECT_EQ(recorder.levels(), QList<float> { 0.0F });
    EXPECT_TRUE(service->stop().isEmpty());

    system->engineStartError.reset();
    startRecording();
    EXPECT_TRUE(service->isRunning());
    service->stop();
}

TEST_F(AudioCaptureServiceTest, EachRecordingStartsWithAnEmptyAccumulator)
{
    makeService();
    startRecording();
    deliverInBlocks(ramp(1000), 1000);
    EXPECT_EQ(service->stop().size(), 1);
    CaptureRecorder second;
    service->start(std::nullopt, second.chunkHandler(), second.levelHandler());
    deliverInBlocks(ramp(3200, 5), 800);
    EXPECT_TRUE(service->stop().isEmpty());
    ASSERT_EQ(second.chunks().size(), 1);
    EXPECT_EQ(second.chunks()[0], ramp(3200, 5));
}

TEST_F(AudioCaptureServiceTest, StopGivesUpOnAStalledHandlerAfterTheDrainTimeoutAndReturnsWhatArrived)
{
    makeService(300ms);
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> delivered { 0 };
    std::atomic<int> callsAfterStop { 0 };
    std::atomic<bool> stopped { false };
    QByteArray firstChunk;
    service->start(std::nullopt,
        [&](const QByteArray& chunk) {
            if (stopped) {
                ++callsAfterStop;
            }
            if (delivered++ == 0) {
                firstChunk = chunk;
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return release; });
            }
        },
        {});
    const QByteArray captured = ramp(3 * 3200 + 500);
    deliverInBlocks(captured, 1600);

    QElapsedTimer timer;
    timer.start();
    const QList<QByteArray> leftovers = service->stop();
    stopped = true;
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_FALSE(service->isRunning());

    // Nothing lost, nothing twice: the handed-on first chunk plus the leftovers are the capture.
    QByteArray joined = captured.first(3200);
    for (const QByteArray& chunk : leftovers) {
        joined += chunk;
    }
    EXPECT_EQ(joined, captured);
    EXPECT_EQ(leftovers.last().size(), 500);

    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    spinEventLoop(100ms);
    EXPECT_EQ(delivered.load(), 1);
    EXPECT_EQ(callsAfterStop.load(), 0);
    EXPECT_EQ(firstChunk, captured.first(3200));

    // The service is usable again at once.
    startRecording();
    deliverInBlocks(ramp(3200), 3200);
    service->stop();
    EXPECT_EQ(recorder.chunks().size(), 1);
}

TEST_F(AudioCaptureServiceTest, DeviceRemovedMidRecordingEndsCaptureAndStopStillReturnsTheLeftovers)
{
    makeService();
    service->start(std::nullopt, recorder.chunkHandler(), recorder.levelHandler(), recorder.endedHandler());
    const QByteArray captured = ramp(4000);
    deliverInBlocks(captured, 2000);
    system->removeActiveDevice("the device was removed");
    EXPECT_FALSE(system->deliver(ramp(3200)));
    EXPECT_FALSE(service->isRunning());
    ASSERT_TRUE(recorder.waitForEnd(60s));

    QElapsedTimer timer;
    timer.start();
    const QList<QByteArray> leftovers = service->stop();
    EXPECT_LT(timer.elapsed(), 500);
    ASSERT_EQ(leftovers.size(), 1);
    EXPECT_EQ(leftovers[0], captured.mid(3200));
    EXPECT_FALSE(service->isRunning());
    // Once, named as the user knows the device, after what was captured before it.
    const QList<CaptureRecorder::Event> events = recorder.events();
    ASSERT_EQ(events.size(), 5);
    EXPECT_EQ(events[3].end, "Built-in Microphone: the device was removed");
    EXPECT_EQ(events[4].level, 0.0F);

    // An ended recording nobody stopped gives way to the next; a stopped one reports no end.
    startRecording();
    system->removeActiveDevice("the device was removed");
    CaptureRecorder next;
    service->start(QString("usb"), next.chunkHandler(), next.levelHandler(), next.endedHandler());
    EXPECT_TRUE(service->isRunning());
    deliverInBlocks(ramp(3200), 3200);
    service->stop();
    EXPECT_EQ(next.chunks().size(), 1);
    EXPECT_TRUE(next.ends().isEmpty());
}

TEST_F(AudioCaptureServiceTest, StalledStopGivesTheZeroLevelOnlyAfterTheBusyHandlerReturns)
{
    makeService(100ms);
    // Handlers run one at a time, so they share this without a lock (ThreadSanitizer checks it).
    QStringList calls;
    std::atomic<bool> inChunkHandler { false };
    std::atomic<bool> zeroLevelSeen { false };
    service->start(
        std::nullopt,
        [&](const QByteArray&) {
            calls.append("chunk");
            inChunkHandler = true;
            std::this_thread::sleep_for(300ms);
            calls.append("chunk done");
            inChunkHandler = false;
        },
        [&](float level) {
            if (level == 0.0F) {
                calls.append(inChunkHandler ? "zero level beside the chunk" : "zero level");
                zeroLevelSeen = true;
            }
        });
    deliverInBlocks(ramp(3200), 3200);
    ASSERT_TRUE(waitUntil([&] { return inChunkHandler.load(); }, 60s));
    service->stop();
    ASSERT_TRUE(waitUntil([&] { return zeroLevelSeen.load(); }, 60s));
    EXPECT_EQ(calls, (QStringList { "chunk", "chunk done", "zero level" }));
}

TEST_F(AudioCaptureServiceTest, ForeignFormatIsConvertedBeforeChunking)
{
    system->streamFormat = { 48000, 2, AudioSampleType::Float32 };
    makeService();
    startRecording();
    // One second of 48 kHz stereo float silence becomes one second of 16 kHz mono: 10 chunks.
    const QByteArray second(48000 * 2 * 4, '\0');
    deliverInBlocks(second, 4096);
    const QList<QByteArray> leftovers = service->stop();
    qsizetype total = 0;
    for (const QByteArray& chunk : recorder.chunks()) {
        EXPECT_EQ(chunk.size(), 3200);
        total += chunk.size();
    }
    for (const QByteArray& chunk : leftovers) {
        total += chunk.size();
    }
    EXPECT_NEAR(static_cast<double>(total), 32000.0, 3200.0);
}
