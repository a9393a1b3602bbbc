#include "platform/linux/focus/EwmhWindowSystem.h"

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tessvale {

namespace {

// Owns what XGetWindowProperty returns.
class PropertyReader
{
public:
    PropertyReader(Display* display, Window window, const char* name, Atom type, long maxItems = 1024)
    {
        const Atom property = XInternAtom(display, name, False);
        int format = 0;
        unsigned long after = 0;
        if (XGetWindowProperty(
                display, window, property, 0, maxItems, False, type, &m_type, &format, &m_count, &after, &m_data)
            != Success) {
            m_data = nullptr;
            m_count = 0;
        }
        m_format = format;
    }
    ~PropertyReader()
    {
        if (m_data)
            XFree(m_data);
    }
    PropertyReader(const PropertyReader&) = delete;
    PropertyReader& operator=(const PropertyReader&) = delete;

    unsigned long count() const { return m_data ? m_count : 0; }
    // Format-32 items come back as longs whatever the server's word size.
    unsigned long item(unsigned long index) const { return reinterpret_cast<const unsigned long*>(m_data)[index]; }
    QString text() const
    {
        return m_data && m_format == 8
            ? QString::fromUtf8(reinterpret_cast<const char*>(m_data), static_cast<int>(m_count))
            : QString();
    }

private:
    unsigned char* m_data = nullptr;
    unsigned long m_count = 0;
    Atom m_type = 0;
    int m_format = 0;
};

// Ignores BadWindow from windows that vanish between the lookup and the read.
// EWMH source indication "pager": window managers honour it without focus-stealing checks.
constexpr long activationSourcePager = 2;

} // namespace

std::optional<unsigned long> focusedClientWindow(Display* display)
{
    X11ErrorTrap trap(display);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window root = DefaultRootWindow(display);
    if (focus == None || focus == PointerRoot || focus == root)
        return std::nullopt;
    Window window = focus;
    while (window != root && window != None) {
        PropertyReader state(display, window, "WM_STATE", AnyPropertyType);
        if (state.count() > 0)
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
    if (window == root || window == None)
        window = focus;
    if (trap.errorCode() != 0)
        return std::nullopt;
    return window;
}

EwmhWindowSystem::EwmhWindowSystem() = default;
EwmhWindowSystem::~EwmhWindowSystem() = default;

bool EwmhWindowSystem::ensureConnection()
{
    if (!m_connection && !m_triedConnection) {
        m_triedConnection = true;
        QString reason;
        m_connection = X11Connection::open(&reason);
        if (!m_connection)
            qCWarning(lcFocus).noquote() << "no window system:" << reason;
    }
    return m_connection != nullptr;
}

std::optional<FrontmostApplication> EwmhWindowSystem::frontmostApplication()
{
    if (!ensureConnection())
        return std::nullopt;
    Display* display = m_connection->display();
    X11ErrorTrap trap(display);
    std::optional<FrontmostApplication> result;
    Window active = 0;
    {
        PropertyReader reader(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
        if (reader.count() > 0)
            active = reader.item(0);
    }
    if (active != 0) {
        FrontmostApplication app;
        app.windowId = active;
        app.processIdentifier = processOf(active).value_or(0);
        XClassHint hint { nullptr, nullptr };
        if (XGetClassHint(display, active, &hint)) {
            app.name = QString::fromLocal8Bit(hint.res_class);
            if (hint.res_name && *hint.res_name)
                app.bundleIdentifier = QString::fromLocal8Bit(hint.res_name);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        PropertyReader title(display, active, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False));
        app.windowTitle = title.text();
        if (app.windowTitle.isEmpty()) {
            PropertyReader legacy(display, active, "WM_NAME", XA_STRING);
            app.windowTitle = QString::fromLatin1(legacy.text().toLatin1());
        }
        result = app;
    }
    return result;
}

std::optional<KeyboardFocusWindow> EwmhWindowSystem::keyboardFocusWindow()
{
    if (!ensureConnection())
        return std::nullopt;
    const std::optional<unsigned long> window = focusedClientWindow(m_connection->display());
    if (!window)
        return std::nullopt;
    X11ErrorTrap trap(m_connection->display());
    return KeyboardFocusWindow { *window, processOf(*window).value_or(0) };
}

std::vector<unsigned long> EwmhWindowSystem::clientWindows()
{
    std::vector<unsigned long> windows;
    Display* display = m_connection->display();
    for (const char* name : { "_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST" }) {
        PropertyReader reader(display, DefaultRootWindow(display), name, XA_WINDOW, 4096);
        for (unsigned long i = 0; i < reader.count(); ++i)
            windows.push_back(reader.item(i));
        if (!windows.empty())
            break;
    }
    return windows;
}

std::optional<qint32> EwmhWindowSystem::processOf(unsigned long window)
{
    PropertyReader reader(m_connection->display(), window, "_NET_WM_PID", XA_CARDINAL);
    if (reader.count() == 0)
        return std::nullopt;
    return static_cast<qint32>(reader.item(0));
}

bool EwmhWindowSystem::isRunning(qint32 processIdentifier)
{
    if (!ensureConnection())
        return false;
    X11ErrorTrap trap(m_connection->display());
    bool found = false;
    for (unsigned long window : clientWindows()) {
        if (processOf(window) == processIdentifier) {
            found = true;
            break;
        }
    }
    return found;
}

PlatformResult EwmhWindowSystem::requestActivation(qint32 processIdentifier)
{
    if (!ensureConnection())
        return PlatformResult::failed(QStringLiteral("no X11 display"));
    Display* display = m_connection->display();
    X11ErrorTrap trap(display);
    // The top-most window of the process (stacking order lists the top last).
    Window target = 0;
    for (unsigned long window : clientWindows()) {
        if (processOf(window) == processIdentifier)
            target = window;
    }
    if (target != 0) {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = target;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = activationSourcePager;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(
            display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }
    if (target == 0) {
        qCInfo(lcFocus) << "no window to activate for pid" << processIdentifier;
        return PlatformResult::failed(QStringLiteral("no window of process %1").arg(processIdentifier));
    }
    return PlatformResult::ok();
}

} // namespace tessvale
