#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "platform/audio/AudioSystem.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/CaptureRecorder.h"
#include "support/audio/ToneAnalysis.h"

using namespace std::chrono_literals;
using namespace tessvale::testing;
using tessvale::AudioCaptureService;
using tessvale::AudioStreamFormat;
using tessvale::AudioSystem;
using tessvale::waitUntil;

namespace {

constexpr int pipeRate = 48000;
constexpr double burstSeconds = 0.5;
constexpr double burstAmplitude = 0.5;

bool sourceListed(const QString& uid)
{
    for (const tessvale::AudioSystemDevice& device : desktopAudio()->devices()) {
        if (device.uid == uid) {
            return true;
        }
    }
    return false;
}

// A source that delivers exactly the bytes written into its FIFO, as soon as they are written.
class PipeSource
{
public:
    PipeSource()
        : m_name(QStringLiteral("pipe%1").arg(QCoreApplication::applicationPid()))
        , m_fifo(temporaryPath("capture.fifo"))
    {
        m_module = runTool("pactl",
            { "load-module", "module-pipe-source", "source_name=" + m_name, "file=" + m_fifo, "format=s16le",
                QStringLiteral("rate=%1").arg(pipeRate), "channels=2" });
        if (!m_module.isNull() && waitUntil([this] { return sourceListed(m_name); }, 60s)) {
            // The module keeps the FIFO open for reading, so this does not block.
            m_fd = ::open(m_fifo.toUtf8().constData(), O_WRONLY | O_CLOEXEC);
        }
    }
    ~PipeSource()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_module.isNull()) {
            runTool("pactl", { "unload-module", m_module });
        }
    }

    bool ready() const { return m_fd >= 0; }
    // True once the sound server has read everything written so far.
    bool drained() const
    {
        int unread = 0;
        return ::ioctl(m_fd, FIONREAD, &unread) == 0 && unread == 0;
    }
    const QString& name() const { return m_name; }

    bool write(const QByteArray& frames)
    {
        qsizetype written = 0;
        while (written < frames.size()) {
            const ssize_t result = ::write(m_fd, frames.constData() + written, frames.size() - written);
            if (result <= 0) {
                return false;
            }
            written += result;
        }
        return true;
    }

private:
    QString m_name;
    QString m_fifo;
    QString m_module;
    int m_fd = -1;
};

class CaptureStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!soundServerAvailable()) {
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no sound server (run under scripts/test-env)";
        }
        ASSERT_TRUE(m_pipe.ready()) << "could not set up the pipe source";
    }

    static QByteArray toneBurst()
    {
        return sineWave(
            AudioStreamFormat { pipeRate, 2, tessvale::AudioSampleType::Int16 }, 1000.0, burstAmplitude, burstSeconds);
    }

    PipeSource m_pipe;
};

} // namespace

TEST_F(CaptureStartup, FirstChunkArrivesPromptlyAndTheOpeningWordsAreKept)
{
    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    QElapsedTimer sinceStart;
    sinceStart.start();
    service.start(m_pipe.name(), recorder.chunkHandler(), recorder.levelHandler());
    // Someone who starts talking the moment recording starts.
    ASSERT_TRUE(m_pipe.write(toneBurst()));

    ASSERT_TRUE(recorder.waitForChunks(1, 60s));
    const qint64 firstChunkMs = sinceStart.elapsed();
    std::printf("First 100 ms chunk %lld ms after start\n", static_cast<long long>(firstChunkMs));
    RecordProperty("first_chunk_ms", static_cast<int>(firstChunkMs));
    EXPECT_LT(firstChunkMs, 300);

    // Every byte of the burst is on its way by now; stop hands over the tail.
    EXPECT_TRUE(recorder.waitForChunks(4, 60s));
    ASSERT_TRUE(waitUntil([this] { return m_pipe.drained(); }, 60s));
    const QList<QByteArray> leftovers = service.stop();
    QByteArray pcm;
    for (const QByteArray& chunk : recorder.chunks()) {
        pcm += chunk;
    }
    for (const QByteArray& chunk : leftovers) {
        pcm += chunk;
    }

    const std::vector<double> samples = pcm16Samples(pcm);
    const double expected = burstSeconds * 16000;
    // The resampler holds back at most a few milliseconds of the tail.
    EXPECT_NEAR(static_cast<double>(samples.size()), expected, 16000 * 0.01);
    // The tone is there from the first 10 ms on, at full strength.
    const std::vector<double> opening(samples.begin(), samples.begin() + std::min<size_t>(samples.size(), 800));
    EXPECT_NEAR(rootMeanSquare(opening, 160), burstAmplitude / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(dominantFrequency(samples, 16000.0, 100.0, 7900.0, 10.0), 1000.0, 10.0);
}

TEST_F(CaptureStartup, StreamDeliversTheFirstBlockWithinAFragment)
{
    std::shared_ptr<AudioSystem> system = desktopAudio();
    std::unique_ptr<tessvale::AudioCaptureStream> stream = system->openCaptureStream(m_pipe.name());
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->format().sampleRate, pipeRate);
    EXPECT_EQ(stream->format().channelCount, 2);

    std::atomic<qint64> firstBlockMs { -1 };
    std::atomic<qint64> bytes { 0 };
    QElapsedTimer sinceStart;
    sinceStart.start();
    stream->start(
        [&](const char*, qsizetype size) {
            qint64 none = -1;
            firstBlockMs.compare_exchange_strong(none, sinceStart.elapsed());
            bytes += size;
        },
        [](const QString&) {});
    ASSERT_TRUE(m_pipe.write(toneBurst()));
    const qsizetype floatBytes = static_cast<qsizetype>(burstSeconds * pipeRate) * 2 * 4;
    EXPECT_TRUE(waitUntil([&] { return bytes.load() >= floatBytes; }, 60s));
    stream->stop();
    std::printf("First block %lld ms after start\n", static_cast<long long>(firstBlockMs.load()));
    EXPECT_GE(firstBlockMs.load(), 0);
    EXPECT_LT(firstBlockMs.load(), 100);
    EXPECT_EQ(bytes.load(), floatBytes);
}

// Streams whose source goes away, on virtual sources of the test's own.
class CaptureStreamEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!soundServerAvailable()) {
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no sound server (run under scripts/test-env)";
        }
    }

    // Loads a virtual source on the null sink's monitor and waits until it is listed; its module, or a null string.
    static QString loadVirtualSource(const QString& name)
    {
        const QString module = runTool(
            "pactl", { "load-module", "module-virtual-source", "source_name=" + name, "master=virt.monitor" });
        if (module.isNull())
            return {};
        if (!waitUntil([&] { return sourceListed(name); }, 60s)) {
            runTool("pactl", { "unload-module", module });
            return {};
        }
        return module;
    }
};

TEST_F(CaptureStreamEnd, RemovedSourceEndsTheStreamWithAReasonAndNoFurtherBlocks)
{
    const QString name = QStringLiteral("leaving%1").arg(QCoreApplication::applicationPid());
    const QString module = loadVirtualSource(name);
    ASSERT_FALSE(module.isNull());

    std::unique_ptr<tessvale::AudioCaptureStream> stream = desktopAudio()->openCaptureStream(name);
    ASSERT_TRUE(stream);
    std::mutex mutex;
    QString reason;
    std::atomic<int> blocksAfterEnd { 0 };
    std::atomic<bool> ended { false };
    stream->start([&](const char*, qsizetype) { blocksAfterEnd += ended ? 1 : 0; },
        [&](const QString& why) {
            std::lock_guard lock(mutex);
            reason = why;
            ended = true;
        });
    ASSERT_FALSE(runTool("pactl", { "unload-module", module }).isNull());
    EXPECT_TRUE(waitUntil([&] { return ended.load(); }, 60s));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reason, "the device was removed");
    }
    QElapsedTimer timer;
    timer.start();
    stream->stop();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_EQ(blocksAfterEnd.load(), 0);

    EXPECT_FALSE(desktopAudio()->openCaptureStream(name)) << "a removed source can still be opened";
}

TEST_F(CaptureStreamEnd, SourceGoneBeforeStartFailsTheStartWithoutReportingAnEnd)
{
    const QString name = QStringLiteral("fleeting%1").arg(QCoreApplication::applicationPid());
    const QString module = loadVirtualSource(name);
    ASSERT_FALSE(module.isNull());
    std::unique_ptr<tessvale::AudioCaptureStream> stream = desktopAudio()->openCaptureStream(name);
    ASSERT_TRUE(stream);
    ASSERT_FALSE(runTool("pactl", { "unload-module", module }).isNull());

    std::atomic<int> ends { 0 };
    try {
        stream->start([](const char*, qsizetype) {}, [&](const QString&) { ++ends; });
        ADD_FAILURE() << "recording started from a source that is gone";
    } catch (const tessvale::AudioEngineError& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), "Unable to start the microphone: the device was removed.");
    }
    stream->stop();
    // An end reported late would come within a moment.
    EXPECT_FALSE(waitUntil([&] { return ends.load() > 0; }, 100ms));
}

TEST_F(CaptureStartup, AHandlerMayStopItsOwnStreamAndTheOwnerStopsItAgainLater)
{
    std::unique_ptr<tessvale::AudioCaptureStream> stream = desktopAudio()->openCaptureStream(m_pipe.name());
    ASSERT_TRUE(stream);
    std::atomic<int> blocks { 0 };
    stream->start(
        [&](const char*, qsizetype) {
            ++blocks;
            stream->stop();
        },
        [](const QString&) {});
    // Less than the FIFO holds: once the stream stops, nobody may read it any more.
    ASSERT_TRUE(m_pipe.write(toneBurst().first(16384)));
    // Relaxed, so the wait orders none of the handler's work before the owner's stop: that stop must
    // take the stream's own lock.
    ASSERT_TRUE(waitUntil([&] { return blocks.load(std::memory_order_relaxed) > 0; }, 60s));
    // The rest of what was written would reach a stream still reading within this.
    waitUntil([&] { return blocks.load(std::memory_order_relaxed) > 1; }, 500ms);
    stream->stop();
    EXPECT_EQ(blocks.load(), 1);
}
