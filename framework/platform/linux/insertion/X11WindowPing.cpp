#include "platform/linux/insertion/X11WindowPing.h"

#include <atomic>

#include "platform/linux/X11Connection.h"
#include "platform/linux/focus/EwmhWindowSystem.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tessvale {

namespace {

// Our pings carry their own serial where EWMH puts a timestamp; clients echo it back unchanged.
std::atomic<long> nextSerial { 0x54560000 };

bool answersPings(Display* display, Window window)
{
    Atom* protocols = nullptr;
    int count = 0;
    if (!XGetWMProtocols(display, window, &protocols, &count))
        return false;
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = protocols[i] == ping;
    XFree(protocols);
    return found;
}

} // namespace

std::optional<unsigned long> X11WindowPing::focusedPingableWindow(Display* display)
{
    const std::optional<unsigned long> window = focusedClientWindow(display);
    if (!window)
        return std::nullopt;
    X11ErrorTrap trap(display);
    if (!answersPings(display, *window) || trap.errorCode() != 0)
        return std::nullopt;
    return window;
}

X11WindowPing::X11WindowPing(Display* display, unsigned long window)
    : m_display(display)
    , m_window(window)
    , m_serial(nextSerial++)
{
    // Answers go to the root window, with SubstructureNotify (EWMH) or StructureNotify (Qt) as the
    // mask; only our own connection's selection changes.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask | StructureNotifyMask);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "_NET_WM_PING", False));
    event.xclient.data.l[1] = m_serial;
    event.xclient.data.l[2] = static_cast<long>(window);
    X11ErrorTrap trap(display);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

X11WindowPing::~X11WindowPing()
{
    XSelectInput(m_display, DefaultRootWindow(m_display), NoEventMask);
    XSync(m_display, False);
    // Root notifications that came meanwhile are of no use to anyone on this connection.
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
    }
}

bool X11WindowPing::answered()
{
    if (m_answered)
        return true;
    const Atom ping = XInternAtom(m_display, "_NET_WM_PING", False);
    // XPending reads the socket without blocking; nothing but root notifications is selected here.
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ClientMessage && event.xclient.format == 32
            && static_cast<Atom>(event.xclient.data.l[0]) == ping && event.xclient.data.l[1] == m_serial
            && static_cast<unsigned long>(event.xclient.data.l[2]) == m_window)
            m_answered = true;
    }
    return m_answered;
}

} // namespace tessvale
