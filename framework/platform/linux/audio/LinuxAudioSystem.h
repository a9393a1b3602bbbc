#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>
#include <mutex>

#include "platform/audio/AudioSystem.h"

namespace tessvale {

class PulseAudioServer;
class PulseClient;

// The desktop's sound server: device list, default input and change events straight from
// PulseAudio (or PipeWire's PulseAudio service), capture through a libpulse record stream.
// Device uid is the server's source name, the name is its description.
class LinuxAudioSystem : public AudioSystem
{
public:
    LinuxAudioSystem();
    ~LinuxAudioSystem() override;

    QList<AudioSystemDevice> devices() override;
    std::optional<QString> defaultInputUID() override;
    std::unique_ptr<AudioCaptureStream> openCaptureStream(const QString& uid) override;
    std::unique_ptr<AudioChangeSubscription> subscribeToChanges(std::function<void()> onChange) override;

    // The one connection for the device list, shared with whoever else asks about inputs.
    const std::shared_ptr<PulseAudioServer>& server() const { return m_server; }

private:
    std::shared_ptr<PulseAudioServer> m_server;
    std::mutex m_captureMutex;
    // The recordings' connection, kept between them.
    std::shared_ptr<PulseClient> m_captureConnection;
};

} // namespace tessvale
