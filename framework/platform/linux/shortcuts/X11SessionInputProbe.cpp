#include "platform/linux/shortcuts/X11SessionInputProbe.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace tessvale {

namespace {

std::optional<QVariant> callBus(QDBusConnection bus, const QDBusMessage& call)
{
    const QDBusMessage reply
        = bus.call(call, QDBus::Block, static_cast<int>(X11SessionInputProbe::busCallTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCDebug(lcKeyboardEvents).noquote() << "lock query" << call.service() << "failed:" << reply.errorMessage();
        return std::nullopt;
    }
    return reply.arguments().constFirst();
}

// The desktop's screen locker (KDE, Xfce and others offer it on the session bus).
bool isDesktopScreenSaverActive()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    // Asked only when running: a call would otherwise start a locker through bus activation.
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(service))
        return false;
    const auto active = callBus(bus,
        QDBusMessage::createMethodCall(
            service, QStringLiteral("/org/freedesktop/ScreenSaver"), service, QStringLiteral("GetActive")));
    return active && active->toBool();
}

bool isLogindSessionLocked()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    // "auto" is the caller's own session, or the user's display session when the caller has none.
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1/session/auto"), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("LockedHint");
    const auto hint = callBus(bus, call);
    return hint && hint->value<QDBusVariant>().variant().toBool();
}

} // namespace

X11SessionInputProbe::X11SessionInputProbe() = default;

X11SessionInputProbe::~X11SessionInputProbe() = default;

bool X11SessionInputProbe::ensureConnection()
{
    if (!m_connection)
        m_connection = X11Connection::open();
    return m_connection != nullptr;
}

bool X11SessionInputProbe::isKeyboardGrabbedElsewhere()
{
    if (!ensureConnection())
        return false;
    Display* display = m_connection->display();
    const int status
        = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) {
        XUngrabKeyboard(display, CurrentTime);
        XSync(display, False);
        // Key events that reached us during the probe belong to no one here.
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
        return false;
    }
    qCInfo(lcKeyboardEvents) << "keyboard grab probe refused, status" << status;
    return status == AlreadyGrabbed || status == GrabFrozen;
}

bool X11SessionInputProbe::isSessionLocked()
{
    if (isScreenSaverOn()) {
        qCInfo(lcKeyboardEvents) << "the X screen saver is on";
        return true;
    }
    if (isDesktopScreenSaverActive()) {
        qCInfo(lcKeyboardEvents) << "the desktop's screen saver is active";
        return true;
    }
    if (isLogindSessionLocked()) {
        qCInfo(lcKeyboardEvents) << "logind reports the session locked";
        return true;
    }
    return false;
}

bool X11SessionInputProbe::isScreenSaverOn()
{
    if (!ensureConnection())
        return false;
    Display* display = m_connection->display();
    int event = 0;
    int error = 0;
    if (!XScreenSaverQueryExtension(display, &event, &error))
        return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info)
        return false;
    const bool on = XScreenSaverQueryInfo(display, DefaultRootWindow(display), info) && info->state == ScreenSaverOn;
    XFree(info);
    return on;
}

} // namespace tessvale
