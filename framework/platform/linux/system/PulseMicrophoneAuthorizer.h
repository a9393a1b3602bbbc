#pragma once

#include "platform/linux/BackendOnly.h"

#include <atomic>
#include <memory>

#include "platform/system/MicrophoneAuthorization.h"

namespace tessvale {

class PulseAudioServer;

// Authorized when the sound server (PulseAudio, or PipeWire's PulseAudio service) accepts a
// connection and lists at least one input that is not the monitor of an output. Asks over the
// device list's connection, so a server that does not answer is waited for once, not per check.
class PulseMicrophoneAuthorizer : public MicrophoneAuthorizer
{
public:
    // Without a server, one of its own.
    explicit PulseMicrophoneAuthorizer(std::shared_ptr<PulseAudioServer> server = nullptr);

    MicrophoneAuthorizationStatus check(QString* reason = nullptr) override;
    MicrophoneAuthorizationStatus lastStatus() const override;

private:
    std::shared_ptr<PulseAudioServer> m_server;
    std::atomic<MicrophoneAuthorizationStatus> m_lastStatus { MicrophoneAuthorizationStatus::notDetermined };
};

} // namespace tessvale
