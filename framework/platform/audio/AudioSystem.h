#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QString>

#include "base/TessvaleError.h"

namespace tessvale {

enum class AudioSampleType {
    UInt8,
    Int16,
    Int32,
    Float32,
};

// The format a capture stream delivers its blocks in: interleaved frames, native byte order.
struct AudioStreamFormat
{
    int sampleRate = 0;
    int channelCount = 0;
    AudioSampleType sampleType = AudioSampleType::Int16;

    int bytesPerSample() const;
    int bytesPerFrame() const { return bytesPerSample() * channelCount; }
};

// One capture device as the sound server reports it.
struct AudioSystemDevice
{
    QString uid;
    QString name;
    int inputChannelCount = 0;
};

// The sound server's own failure to start a capture stream, or to answer at all, passed on unchanged.
class AudioEngineError : public TessvaleError
{
public:
    explicit AudioEngineError(const QString& message);
};

// One open capture on one device. Blocks arrive on the backend's capture thread, in capture order.
class AudioCaptureStream
{
public:
    using BlockHandler = std::function<void(const char* data, qsizetype size)>;
    // The device went away or the server ended the stream; no block follows.
    using EndHandler = std::function<void(const QString& reason)>;

    virtual ~AudioCaptureStream();

    virtual AudioStreamFormat format() const = 0;
    // The device's name as the user knows it.
    virtual QString deviceName() const = 0;
    // Throws AudioEngineError when the stream cannot run.
    virtual void start(BlockHandler onBlock, EndHandler onEnded) = 0;
    // Delivers what the device already captured, then stops; no handler runs after it returns.
    virtual void stop() = 0;
};

// Unsubscribes when destroyed; after that the change handler is never called again.
class AudioChangeSubscription
{
public:
    virtual ~AudioChangeSubscription();
};

class AudioSystem
{
public:
    virtual ~AudioSystem();

    // Every capture device the server knows, in the server's order; none when there is no server.
    // Both throw AudioEngineError when a server took the connection but does not answer in time.
    virtual QList<AudioSystemDevice> devices() = 0;
    virtual std::optional<QString> defaultInputUID() = 0;
    // nullptr when the device cannot be selected for capture.
    virtual std::unique_ptr<AudioCaptureStream> openCaptureStream(const QString& uid) = 0;
    // onChange runs on any thread, once for each change of the device list or the default input,
    // including the server going away and coming back. Never blocks for longer than a query does.
    virtual std::unique_ptr<AudioChangeSubscription> subscribeToChanges(std::function<void()> onChange) = 0;
};

} // namespace tessvale
