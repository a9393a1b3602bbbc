#include "audio/RecorderInbox.h"

#include <QMetaObject>

namespace tessvale {

RecorderInbox::RecorderInbox(QObject* receiver, WakeHandler onWake)
    : m_receiver(receiver)
    , m_onWake(std::move(onWake))
{
}

void RecorderInbox::addChunk(const std::shared_ptr<RecorderInbox>& self, const QByteArray& chunk)
{
    std::lock_guard lock(m_mutex);
    m_contents.chunks.append(chunk);
    wakeLocked(self);
}

void RecorderInbox::addLevel(const std::shared_ptr<RecorderInbox>& self, float level)
{
    std::lock_guard lock(m_mutex);
    m_contents.levels.append(level);
    wakeLocked(self);
}

void RecorderInbox::addEnd(const std::shared_ptr<RecorderInbox>& self, const QString& deviceName, const QString& reason)
{
    std::lock_guard lock(m_mutex);
    m_contents.ended = std::make_pair(deviceName, reason);
    wakeLocked(self);
}

RecorderInbox::Contents RecorderInbox::take()
{
    std::lock_guard lock(m_mutex);
    m_wakePosted = false;
    return std::exchange(m_contents, Contents());
}

void RecorderInbox::detach()
{
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
    m_contents = Contents();
}

void RecorderInbox::wakeLocked(const std::shared_ptr<RecorderInbox>& self)
{
    if (!m_receiver || m_wakePosted)
        return;
    m_wakePosted = true;
    // Posted under the lock: the owner detaches before its receiver goes, and Qt drops what is still
    // queued for a destroyed object.
    std::weak_ptr<RecorderInbox> inbox = self;
    QMetaObject::invokeMethod(
        m_receiver,
        [onWake = m_onWake, inbox] {
            if (const std::shared_ptr<RecorderInbox> current = inbox.lock())
                onWake(current);
        },
        Qt::QueuedConnection);
}

} // namespace tessvale
