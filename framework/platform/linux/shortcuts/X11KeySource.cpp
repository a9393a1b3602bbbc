#include "platform/linux/shortcuts/X11KeySource.h"

#include <chrono>
#include <cstring>

#include <QSocketNotifier>
#include <QTimer>

#include "base/Logging.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/shortcuts/X11KeyMap.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace tessvale {

namespace {

// Our own injector types through this device; other programs' XTest keys come from it too.
constexpr char syntheticDeviceName[] = "Virtual core XTEST keyboard";

qint64 monotonicNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Bool isPropertyNotifyFor(Display*, XEvent* event, XPointer window)
{
    return event->type == PropertyNotify && event->xproperty.window == *reinterpret_cast<Window*>(window);
}

} // namespace

X11KeySource::X11KeySource(QObject* parent)
    : QObject(parent)
{
}

X11KeySource::~X11KeySource()
{
    stop();
}

PlatformResult X11KeySource::start(EventHandler eventHandler, InterruptionHandler interruptionHandler)
{
    stop();
    QString openReason;
    auto connection = X11Connection::open(&openReason);
    if (!connection)
        return PlatformResult::failed(openReason);
    Display* display = connection->display();
    int opcode = 0;
    int event = 0;
    int error = 0;
    // Version 2.2: raw events are delivered even while another client grabs the keyboard.
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)
        || XIQueryVersion(display, &major, &minor) != Success || (major == 2 && minor < 1)) {
        return PlatformResult::failed(QStringLiteral("The X server does not offer XInput 2.1 or later."));
    }

    unsigned char rawBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(rawBits, XI_RawKeyPress);
    XISetMask(rawBits, XI_RawKeyRelease);
    unsigned char hierarchyBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(hierarchyBits, XI_HierarchyChanged);
    XIEventMask masks[2];
    masks[0].deviceid = XIAllMasterDevices;
    masks[0].mask_len = sizeof(rawBits);
    masks[0].mask = rawBits;
    masks[1].deviceid = XIAllDevices;
    masks[1].mask_len = sizeof(hierarchyBits);
    masks[1].mask = hierarchyBits;
    XISelectEvents(display, DefaultRootWindow(display), masks, 2);

    m_connection = std::move(connection);
    m_keyMap = std::make_unique<X11KeyMap>(display);
    m_xiOpcode = opcode;
    m_eventHandler = std::move(eventHandler);
    m_interruptionHandler = std::move(interruptionHandler);
    findSyntheticDevice();
    synchronizeServerClock();
    XSync(display, False);

    m_notifier = new QSocketNotifier(m_connection->fileDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11KeySource::readEvents);
    qCInfo(lcKeyboardEvents) << "listening to raw key events, synthetic device id" << m_syntheticDeviceId << "fn key"
                             << m_keyMap->hasFunctionKey();
    readEvents();
    return PlatformResult::ok();
}

void X11KeySource::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_keyMap.reset();
    m_connection.reset();
    m_eventHandler = nullptr;
    m_interruptionHandler = nullptr;
    m_haveServerTime = false;
    m_haveClockOffset = false;
}

std::optional<std::vector<quint32>> X11KeySource::heldKeys()
{
    if (!m_connection)
        return std::nullopt;
    Display* display = m_connection->display();
    char keys[32] = {};
    XQueryKeymap(display, keys);
    // The reply follows every event the server sent before it: if none is waiting, the keymap
    // describes exactly the state after the events delivered so far.
    if (XQLength(display) > 0) {
        if (!m_reading)
            QTimer::singleShot(0, this, &X11KeySource::readEvents);
        return std::nullopt;
    }
    std::vector<quint32> held;
    for (quint32 code = 0; code < 256; ++code) {
        if (keys[code / 8] & (1 << (code % 8)))
            held.push_back(code);
    }
    return held;
}

void X11KeySource::deliverPendingEvents()
{
    if (!m_connection || m_reading)
        return;
    // The reply comes after every event the server sent before it.
    XSync(m_connection->display(), False);
    readEvents();
}

bool X11KeySource::hasFunctionKey() const
{
    return m_keyMap && m_keyMap->hasFunctionKey();
}

void X11KeySource::readEvents()
{
    if (!m_connection || m_reading)
        return;
    m_reading = true;
    Display* display = m_connection->display();
    while (m_connection && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handleEvent(&event);
    }
    m_reading = false;
}

void X11KeySource::handleEvent(void* xevent)
{
    XEvent& event = *static_cast<XEvent*>(xevent);
    Display* display = m_connection->display();
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        m_keyMap->refresh();
        return;
    }
    XGenericEventCookie* cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != m_xiOpcode || !XGetEventData(display, cookie))
        return;

    // Copy what is needed and free the event before calling out: a handler may stop this source.
    bool interrupted = false;
    std::optional<RawKeyEvent> keyEvent;
    if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
        const auto* raw = static_cast<XIRawEvent*>(cookie->data);
        RawKeyEvent converted;
        converted.kind = cookie->evtype == XI_RawKeyPress ? RawKeyEvent::Kind::press : RawKeyEvent::Kind::release;
        converted.nativeKeyCode = static_cast<quint32>(raw->detail);
        converted.keyCode = m_keyMap->keyCode(converted.nativeKeyCode);
        converted.timestamp = monotonicSeconds(raw->time);
        converted.isSynthetic = raw->sourceid == m_syntheticDeviceId;
        keyEvent = converted;
    } else if (cookie->evtype == XI_HierarchyChanged) {
        const auto* hierarchy = static_cast<XIHierarchyEvent*>(cookie->data);
        findSyntheticDevice();
        // A keyboard that went away may have taken held keys with it, without releases.
        interrupted = hierarchy->flags & (XISlaveRemoved | XISlaveDetached | XIDeviceDisabled | XIMasterRemoved);
    }
    XFreeEventData(display, cookie);

    // Copies: a handler may stop this source.
    if (const EventHandler handler = m_eventHandler; keyEvent && handler)
        handler(*keyEvent);
    else if (const InterruptionHandler interruption = m_interruptionHandler; interrupted && interruption)
        interruption();
}

void X11KeySource::findSyntheticDevice()
{
    m_syntheticDeviceId = -1;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(m_connection->display(), XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use == XISlaveKeyboard && std::strcmp(devices[i].name, syntheticDeviceName) == 0)
            m_syntheticDeviceId = devices[i].deviceid;
    }
    XIFreeDeviceInfo(devices);
}

// One round trip that returns the server's current time: a property change on a window of ours.
void X11KeySource::synchronizeServerClock()
{
    Display* display = m_connection->display();
    XSetWindowAttributes attributes;
    attributes.event_mask = PropertyChangeMask;
    Window window = XCreateWindow(
        display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask, &attributes);
    const Atom atom = XInternAtom(display, "_TESSVALE_CLOCK", False);
    XChangeProperty(display, window, atom, XA_ATOM, 32, PropModeReplace, nullptr, 0);
    XEvent event;
    XIfEvent(display, &event, isPropertyNotifyFor, reinterpret_cast<XPointer>(&window));
    monotonicSeconds(event.xproperty.time);
    XDestroyWindow(display, window);
}

double X11KeySource::monotonicSeconds(unsigned long serverTime)
{
    const auto time = static_cast<quint32>(serverTime);
    if (!m_haveServerTime) {
        m_extendedServerTime = time;
        m_haveServerTime = true;
    } else {
        m_extendedServerTime += static_cast<qint32>(time - m_lastServerTime);
    }
    m_lastServerTime = time;
    const qint64 serverNs = m_extendedServerTime * 1'000'000;
    const qint64 offset = monotonicNowNs() - serverNs;
    if (!m_haveClockOffset || offset < m_clockOffsetNs) {
        m_clockOffsetNs = offset;
        m_haveClockOffset = true;
    }
    return static_cast<double>(serverNs + m_clockOffsetNs) / 1e9;
}

} // namespace tessvale
