#include "PcmConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QtEndian>

#include <speex/speex_resampler.h>

namespace tessvale {

namespace {

// Passband to about 0.94 x Nyquist and a stopband far below the 16-bit noise floor of speech,
// at a cost of well under a percent of one core.
constexpr int resamplerQuality = SPEEX_RESAMPLER_QUALITY_DESKTOP;

float readSample(const char* at, AudioSampleType type)
{
    switch (type) {
    case AudioSampleType::UInt8:
        return (static_cast<float>(static_cast<unsigned char>(*at)) - 128.0F) / 128.0F;
    case AudioSampleType::Int16: {
        qint16 value;
        std::memcpy(&value, at, sizeof value);
        return static_cast<float>(value) / 32768.0F;
    }
    case AudioSampleType::Int32: {
        qint32 value;
        std::memcpy(&value, at, sizeof value);
        return static_cast<float>(value) / 2147483648.0F;
    }
    case AudioSampleType::Float32: {
        float value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    }
    return 0.0F;
}

} // namespace

std::unique_ptr<PcmConverter> PcmConverter::create(const AudioStreamFormat& input)
{
    if (input.sampleRate <= 0 || input.channelCount <= 0 || input.bytesPerSample() == 0) {
        return nullptr;
    }
    std::unique_ptr<PcmConverter> converter(new PcmConverter(input));
    if (input.sampleRate != outputSampleRate) {
        int error = RESAMPLER_ERR_SUCCESS;
        converter->m_resampler = speex_resampler_init(1, static_cast<spx_uint32_t>(input.sampleRate),
            static_cast<spx_uint32_t>(outputSampleRate), resamplerQuality, &error);
        if (converter->m_resampler == nullptr || error != RESAMPLER_ERR_SUCCESS) {
            return nullptr;
        }
        // Without this the first output samples would be the filter's zero-filled history.
        speex_resampler_skip_zeros(converter->m_resampler);
    }
    return converter;
}

PcmConverter::PcmConverter(const AudioStreamFormat& input)
    : m_input(input)
{
}

PcmConverter::~PcmConverter()
{
    if (m_resampler != nullptr) {
        speex_resampler_destroy(m_resampler);
    }
}

void PcmConverter::mixDown(const char* frames, qsizetype frameCount)
{
    const int channels = m_input.channelCount;
    const int sampleBytes = m_input.bytesPerSample();
    const float scale = 1.0F / static_cast<float>(channels);
    m_mono.resize(static_cast<size_t>(frameCount));
    const char* at = frames;
    for (qsizetype frame = 0; frame < frameCount; ++frame) {
        float sum = 0.0F;
        for (int channel = 0; channel < channels; ++channel) {
            sum += readSample(at, m_input.sampleType);
            at += sampleBytes;
        }
        m_mono[static_cast<size_t>(frame)] = sum * scale;
    }
}

QByteArray PcmConverter::convert(const char* data, qsizetype size)
{
    const int frameBytes = m_input.bytesPerFrame();
    const char* frames = data;
    qsizetype available = size;
    QByteArray joined;
    if (!m_partialFrame.isEmpty()) {
        joined = m_partialFrame + QByteArray::fromRawData(data, size);
        m_partialFrame.clear();
        frames = joined.constData();
        available = joined.size();
    }
    const qsizetype frameCount = available / frameBytes;
    const qsizetype tail = available - frameCount * frameBytes;
    if (tail > 0) {
        m_partialFrame = QByteArray(frames + frameCount * frameBytes, tail);
    }
    if (frameCount == 0) {
        return {};
    }
    if (m_resampler == nullptr && m_input.channelCount == 1 && m_input.sampleType == AudioSampleType::Int16) {
        // Already the wire format: pass the samples through bit for bit.
        return QByteArray(frames, frameCount * frameBytes);
    }

    mixDown(frames, frameCount);
    const float* output = m_mono.data();
    size_t outputCount = m_mono.size();
    if (m_resampler != nullptr) {
        const auto capacity = static_cast<size_t>(std::ceil(static_cast<double>(frameCount) * outputSampleRate
                                  / static_cast<double>(m_input.sampleRate)))
            + 64;
        m_resampled.resize(capacity);
        spx_uint32_t inputLength = static_cast<spx_uint32_t>(frameCount);
        spx_uint32_t outputLength = static_cast<spx_uint32_t>(capacity);
        speex_resampler_process_float(m_resampler, 0, m_mono.data(), &inputLength, m_resampled.data(), &outputLength);
        output = m_resampled.data();
        outputCount = outputLength;
    }

    QByteArray pcm(static_cast<qsizetype>(outputCount * 2), Qt::Uninitialized);
    char* out = pcm.data();
    for (size_t i = 0; i < outputCount; ++i) {
        const float scaled = std::clamp(output[i] * 32767.0F, -32768.0F, 32767.0F);
        qToLittleEndian<qint16>(static_cast<qint16>(std::lrintf(scaled)), out + i * 2);
    }
    return pcm;
}

} // namespace tessvale
