#pragma once

#include <memory>

#include <QAudioDevice>
#include <QAudioFormat>

#include "platform/audio/AudioSystem.h"

class QObject;
class QThread;

namespace tessvale {

class PulseAudioServer;

// Captures one device through QAudioSource on a thread of its own, in the device's own format.
// Watches the sound server so that a device removed mid-recording ends the stream cleanly.
class QtAudioCaptureStream : public AudioCaptureStream
{
public:
    QtAudioCaptureStream(const QAudioDevice& device, std::shared_ptr<PulseAudioServer> server);
    ~QtAudioCaptureStream() override;

    AudioStreamFormat format() const override;
    void start(BlockHandler onBlock, EndHandler onEnded) override;
    void stop() override;

    static AudioStreamFormat toStreamFormat(const QAudioFormat& format);

private:
    QAudioDevice m_device;
    std::shared_ptr<PulseAudioServer> m_server;
    std::unique_ptr<QThread> m_thread;
    QObject* m_worker = nullptr;
    int m_listenerId = 0;
};

} // namespace tessvale
