#include "AudioCaptureError.h"

namespace tessvale {

namespace {

QString describe(AudioCaptureError::Case kind)
{
    switch (kind) {
    case AudioCaptureError::Case::inputUnavailable:
        return QStringLiteral("No microphone input is available.");
    case AudioCaptureError::Case::outputFormatUnavailable:
        return QStringLiteral("Unable to create the recorder output format.");
    case AudioCaptureError::Case::converterUnavailable:
        return QStringLiteral("Unable to create the recorder audio converter.");
    case AudioCaptureError::Case::alreadyRunning:
        return QStringLiteral("Recorder is already running.");
    case AudioCaptureError::Case::deviceSelectionFailed:
        return QStringLiteral("Unable to switch to the selected microphone.");
    }
    return {};
}

} // namespace

AudioCaptureError::AudioCaptureError(Case kind)
    : TessvaleError(describe(kind))
    , m_kind(kind)
{
}

} // namespace tessvale
