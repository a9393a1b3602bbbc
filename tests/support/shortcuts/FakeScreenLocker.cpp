#include "support/shortcuts/FakeScreenLocker.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace tessvale {

namespace {

const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString connectionName = QStringLiteral("tessvale-fake-screen-locker");

class ScreenSaverObject final : public QDBusVirtualObject
{
public:
    explicit ScreenSaverObject(std::shared_ptr<std::atomic<bool>> active)
        : m_active(std::move(active))
    {
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != service || message.member() != QStringLiteral("GetActive"))
            return false;
        connection.send(message.createReply(QVariant(m_active->load())));
        return true;
    }

private:
    std::shared_ptr<std::atomic<bool>> m_active;
};

} // namespace

FakeScreenLocker::FakeScreenLocker()
    : m_active(std::make_shared<std::atomic<bool>>(false))
    , m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    m_thread.start();
    m_object = new ScreenSaverObject(m_active);
    m_object->moveToThread(&m_thread);
    m_registered = m_connection.isConnected() && m_connection.registerVirtualObject(path, m_object)
        && m_connection.registerService(service);
}

FakeScreenLocker::~FakeScreenLocker()
{
    m_connection.unregisterService(service);
    m_connection.unregisterObject(path);
    QDBusConnection::disconnectFromBus(connectionName);
    QMetaObject::invokeMethod(m_object, &QObject::deleteLater);
    m_thread.quit();
    m_thread.wait();
}

} // namespace tessvale
