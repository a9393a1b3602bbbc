#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

#include <QElapsedTimer>
#include <QProcess>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/CaptureRecorder.h"
#include "support/audio/ToneAnalysis.h"

using namespace std::chrono_literals;
using namespace tessvale::testing;
using tessvale::AudioCaptureService;

namespace {

constexpr int rate = 16000;
constexpr double toneSeconds = 0.3;
constexpr double toneAmplitude = 0.5;

// Where the tone sounds, in seconds from the recording's first sample: the first and the last 5 ms
// at half its strength or more; nullopt when it is not there.
std::optional<std::pair<double, double>> toneSpan(const std::vector<double>& samples)
{
    constexpr size_t window = rate / 200;
    const double threshold = toneAmplitude / std::sqrt(2.0) / 2;
    std::optional<std::pair<double, double>> span;
    for (size_t at = 0; at + window <= samples.size(); at += window / 5) {
        const std::vector<double> part(samples.begin() + at, samples.begin() + at + window);
        if (rootMeanSquare(part) >= threshold) {
            const double end = static_cast<double>(at + window) / rate;
            span = std::pair { span ? span->first : static_cast<double>(at) / rate, end };
        }
    }
    return span;
}

} // namespace

TEST(CaptureOnset, ASoundPlayedAsRecordingStartsIsCapturedWhereItWasPlayed)
{
    if (!soundServerAvailable()) {
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "no sound server (run under scripts/test-env)";
    }
    // A player already connected to the null sink plays what it is given at once.
    QProcess player;
    player.start("pacat",
        { "--playback", "-d", "virt", "--latency-msec=20", "--format=s16le", QStringLiteral("--rate=%1").arg(rate),
            "--channels=1" });
    ASSERT_TRUE(player.waitForStarted(60000));
    ASSERT_TRUE(tessvale::waitUntil(
        [] {
            return !runTool("pactl", { "list", "short", "sink-inputs" }).isEmpty();
        },
        60s));

    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    service.start(QString("mic"), recorder.chunkHandler(), recorder.levelHandler());
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Someone who speaks the moment recording starts.
    player.write(sineWave({ rate, 1, tessvale::AudioSampleType::Int16 }, 1000.0, toneAmplitude, toneSeconds));
    ASSERT_TRUE(player.waitForBytesWritten(60000));
    const double playedAt = sinceStart.nsecsElapsed() / 1e9;
    player.closeWriteChannel();
    EXPECT_TRUE(player.waitForFinished(60000));
    // Until the recording has reached past the tone's end.
    const auto recordedSeconds = [&recorder] {
        qsizetype bytes = 0;
        for (const QByteArray& chunk : recorder.chunks())
            bytes += chunk.size();
        return static_cast<double>(bytes) / sizeof(qint16) / rate;
    };
    EXPECT_TRUE(tessvale::waitUntil([&] { return recordedSeconds() > playedAt + toneSeconds + 0.1; }));
    const QList<QByteArray> leftovers = service.stop();
    const double ranSeconds = sinceStart.nsecsElapsed() / 1e9;

    QByteArray pcm;
    for (const QByteArray& chunk : recorder.chunks() + leftovers) {
        pcm += chunk;
    }
    const std::vector<double> samples = pcm16Samples(pcm);
    const auto span = toneSpan(samples);
    ASSERT_TRUE(span) << "the tone is not in the recording";
    const auto [onset, end] = *span;
    std::printf("recorded %.3f s of %.3f s, tone written at %.3f s, heard from %.3f s to %.3f s\n",
        static_cast<double>(samples.size()) / rate, ranSeconds, playedAt, onset, end);
    // Nothing is missing from the recording's beginning ...
    EXPECT_NEAR(static_cast<double>(samples.size()) / rate, ranSeconds, 0.060);
    // ... so the tone sits where it was played, and whole.
    EXPECT_NEAR(onset, playedAt, 0.060);
    // The null sink's rewind for a player that starts may repeat a few milliseconds; it never drops any.
    EXPECT_GE(end - onset, toneSeconds - 0.010);
    const auto first = static_cast<size_t>((onset + 0.005) * rate);
    const auto last = static_cast<size_t>((onset + toneSeconds - 0.01) * rate);
    ASSERT_LT(last, samples.size());
    const std::vector<double> tone(samples.begin() + first, samples.begin() + last);
    EXPECT_NEAR(rootMeanSquare(tone), toneAmplitude / std::sqrt(2.0), 0.05);
}
