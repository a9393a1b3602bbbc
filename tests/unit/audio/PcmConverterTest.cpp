#include <gtest/gtest.h>

#include <cmath>

#include "audio/PcmConverter.h"
#include "support/audio/ToneAnalysis.h"

using tessvale::AudioSampleType;
using tessvale::AudioStreamFormat;
using tessvale::PcmConverter;
using namespace tessvale::testing;

namespace {

constexpr double outputRate = 16000.0;
// The resampler's start-up transient is left out of every measurement.
constexpr size_t settle = 256;

QByteArray convertInBlocks(PcmConverter& converter, const QByteArray& input, qsizetype blockBytes)
{
    QByteArray output;
    for (qsizetype at = 0; at < input.size(); at += blockBytes) {
        const QByteArray block = input.mid(at, blockBytes);
        output += converter.convert(block.constData(), block.size());
    }
    return output;
}

std::vector<double> convertTone(const AudioStreamFormat& format, double frequency, double amplitude, double seconds)
{
    auto converter = PcmConverter::create(format);
    EXPECT_NE(converter, nullptr);
    // An odd block size puts frame boundaries inside blocks.
    return pcm16Samples(convertInBlocks(*converter, sineWave(format, frequency, amplitude, seconds), 4099));
}

double decibels(double ratio)
{
    return 20.0 * std::log10(ratio);
}

struct ConversionCase
{
    AudioStreamFormat format;
    const char* name;
};

class ToneConversion : public ::testing::TestWithParam<ConversionCase>
{
};

} // namespace

TEST_P(ToneConversion, OneKilohertzStaysOneKilohertzAtFullLevel)
{
    const std::vector<double> samples = convertTone(GetParam().format, 1000.0, 0.5, 2.0);
    EXPECT_NEAR(dominantFrequency(samples, outputRate, 100.0, 7900.0, 10.0, settle), 1000.0, 10.0);
    EXPECT_NEAR(goertzelAmplitude(samples, outputRate, 1000.0, settle), 0.5, 0.5 * 0.06);
    // Nearly all the energy is in the tone: no images, no aliases.
    const double toneRms = 0.5 / std::sqrt(2.0);
    EXPECT_NEAR(rootMeanSquare(samples, settle), toneRms, toneRms * 0.06);
}

TEST_P(ToneConversion, TenKilohertzAboveTheNewNyquistIsAttenuatedByFortyDecibels)
{
    const std::vector<double> passed = convertTone(GetParam().format, 1000.0, 0.5, 1.0);
    const std::vector<double> blocked = convertTone(GetParam().format, 10000.0, 0.5, 1.0);
    const double attenuation = decibels(rootMeanSquare(passed, settle) / rootMeanSquare(blocked, settle));
    EXPECT_GE(attenuation, 40.0) << "only " << attenuation << " dB";
    // Naive decimation would fold 10 kHz onto 6 kHz.
    EXPECT_LT(goertzelAmplitude(blocked, outputRate, 6000.0, settle), 0.5 * 0.01);
}

TEST_P(ToneConversion, SampleCountMatchesTheDurationWithinOneChunk)
{
    const std::vector<double> samples = convertTone(GetParam().format, 440.0, 0.3, 3.0);
    EXPECT_NEAR(static_cast<double>(samples.size()), 3.0 * outputRate, 1600.0);
}

INSTANTIATE_TEST_SUITE_P(CaptureFormats, ToneConversion,
    ::testing::Values(ConversionCase { { 48000, 2, AudioSampleType::Float32 }, "Float48kStereo" },
        ConversionCase { { 44100, 2, AudioSampleType::Float32 }, "Float44k1Stereo" },
        ConversionCase { { 44100, 2, AudioSampleType::Int16 }, "Int16_44k1Stereo" },
        ConversionCase { { 48000, 1, AudioSampleType::Int32 }, "Int32_48kMono" }),
    [](const ::testing::TestParamInfo<ConversionCase>& row) { return std::string(row.param.name); });

TEST(PcmConversion, SixteenKilohertzMonoPassesThroughBitForBit)
{
    const AudioStreamFormat format { 16000, 1, AudioSampleType::Int16 };
    auto converter = PcmConverter::create(format);
    ASSERT_NE(converter, nullptr);
    QByteArray input = sineWave(format, 300.0, 0.9, 0.2);
    input[10] = '\x00';
    input[11] = '\x80'; // -32768 survives too
    EXPECT_EQ(convertInBlocks(*converter, input, 333), input);
}

TEST(PcmConversion, DownMixAveragesTheChannels)
{
    const AudioStreamFormat format { 16000, 2, AudioSampleType::Int16 };
    auto converter = PcmConverter::create(format);
    ASSERT_NE(converter, nullptr);
    QByteArray frames;
    for (int i = 0; i < 100; ++i) {
        const qint16 left = 8000;
        const qint16 right = (i % 2 == 0) ? -8000 : 0;
        frames.append(reinterpret_cast<const char*>(&left), 2);
        frames.append(reinterpret_cast<const char*>(&right), 2);
    }
    const std::vector<double> mono = pcm16Samples(converter->convert(frames.constData(), frames.size()));
    ASSERT_EQ(mono.size(), 100u);
    EXPECT_NEAR(mono[0], 0.0, 1.0 / 32768.0);
    EXPECT_NEAR(mono[1], 4000.0 / 32768.0, 1.0 / 32768.0);
}

TEST(PcmConversion, FullScaleInputClipsInsteadOfWrapping)
{
    const AudioStreamFormat format { 48000, 1, AudioSampleType::Float32 };
    auto converter = PcmConverter::create(format);
    ASSERT_NE(converter, nullptr);
    const QByteArray loud = sineWave(format, 1000.0, 1.5, 0.5);
    const std::vector<double> samples = pcm16Samples(converter->convert(loud.constData(), loud.size()));
    double peak = 0.0;
    size_t signFlipsAtPeak = 0;
    for (size_t i = settle + 1; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(samples[i]));
        if (std::abs(samples[i] - samples[i - 1]) > 1.5) {
            ++signFlipsAtPeak;
        }
    }
    EXPECT_GT(peak, 0.99);
    EXPECT_EQ(signFlipsAtPeak, 0u);
}

TEST(PcmConversion, UnreadableFormatsHaveNoConverter)
{
    EXPECT_EQ(PcmConverter::create({ 0, 2, AudioSampleType::Float32 }), nullptr);
    EXPECT_EQ(PcmConverter::create({ 48000, 0, AudioSampleType::Float32 }), nullptr);
    EXPECT_NE(PcmConverter::create({ 8000, 1, AudioSampleType::UInt8 }), nullptr);
}
