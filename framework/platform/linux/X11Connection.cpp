#include "platform/linux/X11Connection.h"

#include "base/Logging.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace tessvale {

namespace {

// Errors arrive asynchronously; while a trap is open they are recorded here for its display.
Display* trappedDisplay = nullptr;
int trappedErrorCode = 0;
XErrorHandler previousErrorHandler = nullptr;

int trapError(Display* display, XErrorEvent* error)
{
    if (display == trappedDisplay) {
        if (trappedErrorCode == 0)
            trappedErrorCode = error->error_code;
        return 0;
    }
    return previousErrorHandler ? previousErrorHandler(display, error) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display* display)
    : m_display(display)
{
    XSync(display, False);
    trappedDisplay = display;
    trappedErrorCode = 0;
    previousErrorHandler = XSetErrorHandler(trapError);
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(m_display, False);
    XSetErrorHandler(previousErrorHandler);
    trappedDisplay = nullptr;
}

int X11ErrorTrap::errorCode()
{
    XSync(m_display, False);
    return trappedErrorCode;
}

std::unique_ptr<X11Connection> X11Connection::open(QString* reason)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        if (reason)
            *reason = describeMissingX11();
        return nullptr;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (reason)
            *reason = QStringLiteral("Could not connect to the X server on display %1.")
                          .arg(qEnvironmentVariable("DISPLAY"));
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display)
    : m_display(display)
{
}

X11Connection::~X11Connection()
{
    XCloseDisplay(m_display);
}

int X11Connection::fileDescriptor() const
{
    return ConnectionNumber(m_display);
}

bool X11Connection::hasXInput2(int* opcode) const
{
    int xiOpcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(m_display, "XInputExtension", &xiOpcode, &event, &error))
        return false;
    int major = 2;
    int minor = 0;
    if (XIQueryVersion(m_display, &major, &minor) != Success)
        return false;
    if (opcode)
        *opcode = xiOpcode;
    return true;
}

bool X11Connection::hasXTest() const
{
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(m_display, &event, &error, &major, &minor);
}

QString describeMissingX11()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("This Wayland session has no X11 display (XWayland); global keyboard access needs X11.");
    return QStringLiteral("No X11 display is available (DISPLAY is not set).");
}

bool x11InputAccessAvailable(QString* reason)
{
    QString why;
    bool available = false;
    if (auto connection = X11Connection::open(&why)) {
        if (!connection->hasXInput2())
            why = QStringLiteral("The X server lacks the XInput2 extension needed to observe the keyboard.");
        else if (!connection->hasXTest())
            why = QStringLiteral("The X server lacks the XTest extension needed to type and paste.");
        else
            available = true;
    }
    if (reason)
        *reason = available ? QString() : why;
    return available;
}

} // namespace tessvale
