#include "ToneAnalysis.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include <QtEndian>

namespace tessvale::testing {

QByteArray sineWave(const AudioStreamFormat& format, double frequency, double amplitude, double seconds)
{
    const auto frames = static_cast<qsizetype>(std::llround(seconds * format.sampleRate));
    QByteArray data(frames * format.bytesPerFrame(), Qt::Uninitialized);
    char* at = data.data();
    for (qsizetype frame = 0; frame < frames; ++frame) {
        const double value
            = amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / format.sampleRate);
        for (int channel = 0; channel < format.channelCount; ++channel) {
            switch (format.sampleType) {
            case AudioSampleType::UInt8:
                *at = static_cast<char>(static_cast<unsigned char>(std::lround(128.0 + value * 127.0)));
                break;
            case AudioSampleType::Int16: {
                const auto sample = static_cast<qint16>(std::lround(value * 32767.0));
                std::memcpy(at, &sample, sizeof sample);
                break;
            }
            case AudioSampleType::Int32: {
                const auto sample = static_cast<qint32>(std::llround(value * 2147483647.0));
                std::memcpy(at, &sample, sizeof sample);
                break;
            }
            case AudioSampleType::Float32: {
                const auto sample = static_cast<float>(value);
                std::memcpy(at, &sample, sizeof sample);
                break;
            }
            }
            at += format.bytesPerSample();
        }
    }
    return data;
}

std::vector<double> pcm16Samples(const QByteArray& pcm16)
{
    std::vector<double> samples(static_cast<size_t>(pcm16.size() / 2));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = qFromLittleEndian<qint16>(pcm16.constData() + i * 2) / 32768.0;
    }
    return samples;
}

double rootMeanSquare(const std::vector<double>& samples, size_t skip)
{
    if (samples.size() <= skip) {
        return 0.0;
    }
    double sum = 0.0;
    for (size_t i = skip; i < samples.size(); ++i) {
        sum += samples[i] * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(samples.size() - skip));
}

double goertzelAmplitude(const std::vector<double>& samples, double sampleRate, double frequency, size_t skip)
{
    if (samples.size() <= skip) {
        return 0.0;
    }
    const double omega = 2.0 * std::numbers::pi * frequency / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (size_t i = skip; i < samples.size(); ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power
        = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size() - skip);
}

double dominantFrequency(
    const std::vector<double>& samples, double sampleRate, double from, double to, double step, size_t skip)
{
    double best = from;
    double bestAmplitude = -1.0;
    for (double frequency = from; frequency <= to; frequency += step) {
        const double amplitude = goertzelAmplitude(samples, sampleRate, frequency, skip);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            best = frequency;
        }
    }
    return best;
}

} // namespace tessvale::testing
