#pragma once

#include <exception>
#include <string>

#include <QString>

namespace tessvale {

class AudioCaptureError : public std::exception
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
    // The text the user sees.
    QString description() const;
    const char* what() const noexcept override;

    bool operator==(const AudioCaptureError& other) const { return m_kind == other.m_kind; }

private:
    Case m_kind;
    std::string m_what;
};

} // namespace tessvale
