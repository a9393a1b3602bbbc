#include "AudioSystem.h"

namespace tessvale {

int AudioStreamFormat::bytesPerSample() const
{
    switch (sampleType) {
    case AudioSampleType::UInt8:
        return 1;
    case AudioSampleType::Int16:
        return 2;
    case AudioSampleType::Int32:
    case AudioSampleType::Float32:
        return 4;
    }
    return 0;
}

AudioEngineError::AudioEngineError(const QString& message)
    : TessvaleError(message)
{
}

AudioCaptureStream::~AudioCaptureStream() = default;
AudioChangeSubscription::~AudioChangeSubscription() = default;
AudioSystem::~AudioSystem() = default;

} // namespace tessvale
