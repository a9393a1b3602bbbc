#pragma once

#include <functional>
#include <memory>

#include <QPointer>

class QObject;

namespace tessvale {

class AudioChangeSubscription;
class AudioSystem;

// Calls back on the main thread whenever the list of audio devices or the default input changes,
// once per change, without coalescing.
class AudioDeviceMonitor
{
public:
    AudioDeviceMonitor(std::function<void()> callback, std::shared_ptr<AudioSystem> audioSystem);
    ~AudioDeviceMonitor();
    AudioDeviceMonitor(const AudioDeviceMonitor&) = delete;
    AudioDeviceMonitor& operator=(const AudioDeviceMonitor&) = delete;

    void start();
    void stop();
    bool isMonitoring() const { return m_isMonitoring; }

private:
    std::function<void()> m_callback;
    std::shared_ptr<AudioSystem> m_audioSystem;
    std::unique_ptr<QObject> m_mainThreadContext;
    std::unique_ptr<AudioChangeSubscription> m_subscription;
    bool m_isMonitoring = false;
};

} // namespace tessvale
