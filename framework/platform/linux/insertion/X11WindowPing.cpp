#include "platform/linux/insertion/X11WindowPing.h"

#include <atomic>

#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tessvale {

namespace {

// Our pings carry their own serial where EWMH puts a timestamp; clients echo it back unchanged.
std::atomic<long> nextSerial { 0x54560000 };

bool hasProperty(Display* display, Window window, Atom property)
{
    int count = 0;
    Atom* properties = XListProperties(display, window, &count);
    bool found = false;
    for (int i = 0; i < count && !found; ++i)
        found = properties[i] == property;
    if (properties)
        XFree(properties);
    return found;
}

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
    X11ErrorTrap trap(display);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window root = DefaultRootWindow(display);
    if (focus == None || focus == PointerRoot || focus == root)
        return std::nullopt;
    // Toolkits may focus a child of their top-level (a focus proxy): walk up to the window that
    // carries WM_STATE, the client window the window manager manages.
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Window window = focus;
    while (window != root && window != None) {
        if (hasProperty(display, window, wmState))
            break;
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count))
            return std::nullopt;
        if (children)
            XFree(children);
        window = parent;
    }
    // Without a window manager nothing carries WM_STATE: the focus window itself may still answer.
    if (window == root || window == None)
        window = focus;
    if (!answersPings(display, window) || trap.errorCode() != 0)
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
