#pragma once

#include <atomic>
#include <memory>

#include <QDBusConnection>
#include <QThread>

class QDBusVirtualObject;

namespace tessvale {

// The desktop's org.freedesktop.ScreenSaver service on the session bus, answering GetActive. It
// answers from a thread of its own: the one asking blocks the main thread until the reply.
class FakeScreenLocker
{
public:
    FakeScreenLocker();
    ~FakeScreenLocker();
    FakeScreenLocker(const FakeScreenLocker&) = delete;
    FakeScreenLocker& operator=(const FakeScreenLocker&) = delete;

    bool isRegistered() const { return m_registered; }
    void setActive(bool active) { m_active->store(active); }

private:
    std::shared_ptr<std::atomic<bool>> m_active;
    QThread m_thread;
    QDBusConnection m_connection;
    QDBusVirtualObject* m_object = nullptr;
    bool m_registered = false;
};

} // namespace tessvale
