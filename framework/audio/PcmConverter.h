#pragma once

#include <memory>
#include <vector>

#include <QByteArray>

#include "platform/audio/AudioSystem.h"

struct SpeexResamplerState_;

namespace tessvale {

// Turns captured blocks in the device's format into 16 kHz mono signed 16-bit little-endian PCM:
// an equal-weight down-mix, then a band-limited resampler, so nothing above the new Nyquist
// frequency folds back into speech. Keeps filter state across blocks; one instance per recording.
class PcmConverter
{
public:
    static constexpr int outputSampleRate = 16000;

    // nullptr for a format it cannot read.
    static std::unique_ptr<PcmConverter> create(const AudioStreamFormat& input);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    const AudioStreamFormat& inputFormat() const { return m_input; }
    // Blocks need not end on a frame boundary: a partial frame waits for the next block.
    QByteArray convert(const char* data, qsizetype size);

private:
    explicit PcmConverter(const AudioStreamFormat& input);
    void mixDown(const char* frames, qsizetype frameCount);

    AudioStreamFormat m_input;
    SpeexResamplerState_* m_resampler = nullptr;
    QByteArray m_partialFrame;
    std::vector<float> m_mono;
    std::vector<float> m_resampled;
};

} // namespace tessvale
