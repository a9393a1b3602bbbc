#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include <QByteArray>

#include "audio/AudioChunkAccumulator.h"
#include "audio/PcmConverter.h"

using tessvale::AudioChunkAccumulator;
using tessvale::AudioSampleType;
using tessvale::AudioStreamFormat;
using tessvale::PcmConverter;

namespace {

// One second of 48 kHz stereo float speech-band noise-like content, cut into 20 ms capture blocks.
QByteArray oneSecondOfCapture()
{
    QByteArray data(48000 * 2 * 4, Qt::Uninitialized);
    auto* samples = reinterpret_cast<float*>(data.data());
    for (int frame = 0; frame < 48000; ++frame) {
        const double t = frame / 48000.0;
        const auto value = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 220 * t)
            + 0.2 * std::sin(2 * std::numbers::pi * 1900 * t) + 0.1 * std::sin(2 * std::numbers::pi * 11000 * t));
        samples[frame * 2] = value;
        samples[frame * 2 + 1] = -value * 0.5F;
    }
    return data;
}

// Converts and chunks one second of capture per iteration: real-time factor = 1 s / time per iteration.
void convertOneSecondIntoChunks(benchmark::State& state)
{
    const QByteArray capture = oneSecondOfCapture();
    const qsizetype blockBytes = 960 * 2 * 4;
    auto converter = PcmConverter::create({ 48000, 2, AudioSampleType::Float32 });
    AudioChunkAccumulator accumulator;
    qint64 chunks = 0;
    for (auto _ : state) {
        for (qsizetype at = 0; at < capture.size(); at += blockBytes) {
            accumulator.append(converter->convert(capture.constData() + at, blockBytes));
            while (auto chunk = accumulator.takeChunk()) {
                benchmark::DoNotOptimize(chunk->constData());
                ++chunks;
            }
        }
    }
    state.counters["chunks"] = benchmark::Counter(static_cast<double>(chunks));
    state.counters["realtime_x"]
        = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(state.iterations() * capture.size());
}

} // namespace

BENCHMARK(convertOneSecondIntoChunks)->Unit(benchmark::kMillisecond);
