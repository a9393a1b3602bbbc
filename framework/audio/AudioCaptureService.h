#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "audio/AudioCaptureError.h"
#include "audio/AudioInputDevice.h"

namespace tessvale {

class AudioCaptureSession;
class AudioCaptureStream;
class AudioSystem;
class PcmConverter;

// Records the microphone as 16 kHz mono signed 16-bit little-endian PCM, handed on in 100 ms chunks
// together with a loudness level, both from its own worker thread in capture order. A recording the
// sound server ends (the device removed, the server gone) is reported through the ended handler.
class AudioCaptureService
{
public:
    static constexpr qint64 sampleRate = 16000;
    static constexpr quint32 channels = 1;
    static constexpr qint64 chunkMilliseconds = 100;
    static constexpr qint64 bytesPerChunk = 3200;
    // How long stop() waits for blocks still being handled before it returns without them.
    static constexpr std::chrono::milliseconds defaultDrainTimeout { 2000 };

    using ChunkHandler = std::function<void(const QByteArray&)>;
    using LevelHandler = std::function<void(float)>;
    // The device's name as the user knows it, and why the recording ended.
    using CaptureEndedHandler = std::function<void(const QString& deviceName, const QString& reason)>;

    // Touches no device until start().
    explicit AudioCaptureService(
        std::shared_ptr<AudioSystem> audioSystem, std::chrono::milliseconds drainTimeout = defaultDrainTimeout);
    ~AudioCaptureService();
    AudioCaptureService(const AudioCaptureService&) = delete;
    AudioCaptureService& operator=(const AudioCaptureService&) = delete;

    // Throws AudioCaptureError, or the sound server's AudioEngineError when the stream will not run or
    // the server does not answer. endedHandler runs at most once, on the worker thread after the last
    // chunk, when the recording ends without stop(); isRunning() is false by then. stop() still
    // returns what was held back.
    void start(const std::optional<QString>& preferredDeviceUID, ChunkHandler chunkHandler,
        LevelHandler levelHandler = {}, CaptureEndedHandler endedHandler = {});
    // The chunks still held back; the last may be shorter than bytesPerChunk. Not passed to the
    // chunk handler. Must not be called from inside a handler. No handler runs after it returns,
    // unless the drain timed out: then the zero level follows once the busy handler returns.
    QList<QByteArray> stop();
    bool isRunning() const { return m_isRunning; }

    // Input-capable devices, the default input first, then by name ignoring case; none when the
    // sound server does not answer.
    QList<AudioInputDevice> availableInputDevices() const;
    static QList<AudioInputDevice> availableInputDevices(AudioSystem& audioSystem);

private:
    QString selectDevice(const std::optional<QString>& preferredDeviceUID);
    void reset();

    std::shared_ptr<AudioSystem> m_audioSystem;
    std::chrono::milliseconds m_drainTimeout;
    std::unique_ptr<AudioCaptureStream> m_stream;
    std::shared_ptr<PcmConverter> m_converter;
    std::shared_ptr<AudioCaptureSession> m_session;
    // Cleared from the capture thread when the stream ends on its own.
    std::atomic<bool> m_isRunning { false };
    bool m_tapInstalled = false;
};

} // namespace tessvale
