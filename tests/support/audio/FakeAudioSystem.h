#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "platform/audio/AudioSystem.h"

namespace tessvale::testing {

class FakeCaptureStream;

// An in-memory sound server: tests set the devices and the default input, then play the capture
// thread themselves by delivering blocks in the stream's format.
class FakeAudioSystem : public AudioSystem, public std::enable_shared_from_this<FakeAudioSystem>
{
public:
    QList<AudioSystemDevice> deviceList;
    std::optional<QString> defaultUID;
    AudioStreamFormat streamFormat { 16000, 1, AudioSampleType::Int16 };
    bool failDeviceSelection = false;
    std::optional<QString> engineStartError;

    QList<AudioSystemDevice> devices() override;
    std::optional<QString> defaultInputUID() override;
    std::unique_ptr<AudioCaptureStream> openCaptureStream(const QString& uid) override;
    std::unique_ptr<AudioChangeSubscription> subscribeToChanges(std::function<void()> onChange) override;

    // Runs every subscriber on the calling thread, as the server's event thread would.
    void notifyChanged();
    int subscriberCount() const;

    // The uid of every stream opened so far.
    QStringList openedUIDs() const;
    bool isCapturing() const;
    // Delivers one block to the running stream; false when no stream is running.
    bool deliver(const QByteArray& block);
    // The device vanishes: the running stream reports its end and delivers nothing more.
    void removeActiveDevice(const QString& reason);

    void attach(FakeCaptureStream* stream);
    void detach(FakeCaptureStream* stream);

private:
    mutable std::mutex m_mutex;
    std::map<int, std::function<void()>> m_subscribers;
    int m_nextSubscriber = 1;
    QStringList m_openedUIDs;
    FakeCaptureStream* m_active = nullptr;
};

// 16-bit little-endian PCM helpers for tests.
QByteArray constantPcm16(qsizetype sampleCount, qint16 value);

} // namespace tessvale::testing
