#pragma once

#include "base/TessvaleError.h"

namespace tessvale {

class AudioCaptureError : public TessvaleError
{
public:
    enum class Case {
        inputUnavailable,
        outputFormatUnavailable,
        converterUnavailable,
        alreadyRunning,
        deviceSelectionFailed,
    };

    explicit AudioCaptureError(Case kind);

    static AudioCaptureError inputUnavailable() { return AudioCaptureError(Case::inputUnavailable); }
    static AudioCaptureError outputFormatUnavailable() { return AudioCaptureError(Case::outputFormatUnavailable); }
    static AudioCaptureError converterUnavailable() { return AudioCaptureError(Case::converterUnavailable); }
    static AudioCaptureError alreadyRunning() { return AudioCaptureError(Case::alreadyRunning); }
    static AudioCaptureError deviceSelectionFailed() { return AudioCaptureError(Case::deviceSelectionFailed); }

    Case kind() const { return m_kind; }

    bool operator==(const AudioCaptureError& other) const { return m_kind == other.m_kind; }

private:
    Case m_kind;
};

} // namespace tessvale
