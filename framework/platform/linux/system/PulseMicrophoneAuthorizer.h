#pragma once

#include "platform/linux/BackendOnly.h"

#include <atomic>
#include <memory>

#include "platform/system/MicrophoneAuthorization.h"

namespace tessvale {

class PulseAudioServer;

// Authorized when the sound server (PulseAudio, or PipeWire's PulseAudio service) accepts a
// connection and lists at least one input that is not the monitor of an output. Checks go over the
// given server's standing connection (the audio system's, so a dictation start opens none of its
// own), or over one of this authorizer's when none is given.
class PulseMicrophoneAuthorizer : public MicrophoneAuthorizer
{
public:
    explicit PulseMicrophoneAuthorizer(std::shared_ptr<PulseAudioServer> server = nullptr);

    MicrophoneAuthorizationStatus check(QString* reason = nullptr) override;
    MicrophoneAuthorizationStatus lastStatus() const override;

private:
    std::shared_ptr<PulseAudioServer> m_server;
    std::atomic<MicrophoneAuthorizationStatus> m_lastStatus { MicrophoneAuthorizationStatus::notDetermined };
};

} // namespace tessvale
