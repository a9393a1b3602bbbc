#pragma once

#include "platform/linux/BackendOnly.h"

#include <atomic>
#include <chrono>

#include "platform/system/MicrophoneAuthorization.h"

namespace tessvale {

// Authorized when the sound server (PulseAudio, or PipeWire's PulseAudio service) accepts a
// connection and lists at least one input that is not the monitor of an output.
class PulseMicrophoneAuthorizer : public MicrophoneAuthorizer
{
public:
    // Long enough for a busy local server, short enough for a check made on the main thread.
    static constexpr std::chrono::milliseconds defaultTimeout { 1500 };

    explicit PulseMicrophoneAuthorizer(std::chrono::milliseconds timeout = defaultTimeout);

    MicrophoneAuthorizationStatus check(QString* reason = nullptr) override;
    MicrophoneAuthorizationStatus lastStatus() const override;

private:
    std::chrono::milliseconds m_timeout;
    std::atomic<MicrophoneAuthorizationStatus> m_lastStatus { MicrophoneAuthorizationStatus::notDetermined };
};

} // namespace tessvale
