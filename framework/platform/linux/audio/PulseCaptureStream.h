#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <memory>

#include <QString>

#include "platform/audio/AudioSystem.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace tessvale {

class PulseClient;

// Records one PulseAudio source through a connection of the recordings' own (not the device list's),
// kept from one recording to the next so a recording does not wait for a new one. The server pushes
// small fragments (20 ms) as soon as they are captured, so recording starts at once and nothing waits
// on a poll timer. Blocks are float32 at the source's own rate and channel layout, delivered on the
// connection's thread. The stream is pinned to its source: when the source goes away the stream fails
// instead of moving.
class PulseCaptureStream : public AudioCaptureStream
{
public:
    // nullptr when the server is unreachable or has no source of that name. Records over connection
    // while it is still connected, else over a new one, which it leaves there for the next recording.
    static std::unique_ptr<PulseCaptureStream> open(
        const QString& sourceName, std::shared_ptr<PulseClient>& connection);
    ~PulseCaptureStream() override;
    PulseCaptureStream(const PulseCaptureStream&) = delete;
    PulseCaptureStream& operator=(const PulseCaptureStream&) = delete;

    AudioStreamFormat format() const override;
    QString deviceName() const override;
    void start(BlockHandler onBlock, EndHandler onEnded) override;
    void stop() override;

    // Internal to the libpulse callbacks; they run on the connection's thread with its lock held.
    void handleReadable();
    void handleStreamState();
    void signalLoop();

    // How long stop() waits for the server to hand over what it already captured.
    static constexpr std::chrono::milliseconds drainTimeout { 500 };
    static constexpr std::chrono::milliseconds fragmentDuration { 20 };

private:
    explicit PulseCaptureStream(const QString& sourceName);
    bool connect(std::shared_ptr<PulseClient>& connection);
    bool lookUpSource();
    void drainLocked();
    void releaseStreamLocked();
    void disconnect();

    QString m_sourceName;
    QString m_description;
    AudioStreamFormat m_format;
    struct SourceLayout;
    std::unique_ptr<SourceLayout> m_layout;
    std::shared_ptr<PulseClient> m_connection;
    // The connection's loop and context, null once disconnected.
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    BlockHandler m_onBlock;
    EndHandler m_onEnded;
    bool m_stopping = false;
    bool m_inBlockHandler = false;
};

} // namespace tessvale
