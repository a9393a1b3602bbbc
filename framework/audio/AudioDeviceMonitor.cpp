#include "AudioDeviceMonitor.h"

#include <QCoreApplication>
#include <QObject>

#include "platform/audio/AudioSystem.h"

namespace tessvale {

AudioDeviceMonitor::AudioDeviceMonitor(std::function<void()> callback, std::shared_ptr<AudioSystem> audioSystem)
    : m_callback(std::move(callback))
    , m_audioSystem(std::move(audioSystem))
    , m_mainThreadContext(std::make_unique<QObject>())
{
    if (QCoreApplication::instance() != nullptr) {
        m_mainThreadContext->moveToThread(QCoreApplication::instance()->thread());
    }
}

AudioDeviceMonitor::~AudioDeviceMonitor()
{
    stop();
}

void AudioDeviceMonitor::start()
{
    if (m_isMonitoring) {
        return;
    }
    // Notifications come from the sound server's thread; each one becomes its own queued call.
    QPointer<QObject> context = m_mainThreadContext.get();
    std::function<void()> callback = m_callback;
    m_subscription = m_audioSystem->subscribeToChanges([context, callback] {
        if (context.isNull()) {
            return;
        }
        QMetaObject::invokeMethod(
            context.data(),
            [callback] {
                if (callback) {
                    callback();
                }
            },
            Qt::QueuedConnection);
    });
    m_isMonitoring = true;
}

void AudioDeviceMonitor::stop()
{
    if (!m_isMonitoring) {
        return;
    }
    m_subscription.reset();
    m_isMonitoring = false;
}

} // namespace tessvale
