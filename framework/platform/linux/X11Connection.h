#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>

#include <QString>

// Xlib's Display, kept opaque so callers outside the Linux backends never see X11 headers.
typedef struct _XDisplay Display;

namespace tessvale {

// One connection to the X server, closed on destruction. Each backend that watches events opens its
// own, so its event queue is not shared with another component's.
class X11Connection
{
public:
    // Returns nullptr with reason set when no X server can be reached (no DISPLAY, Wayland without
    // XWayland, refused connection).
    static std::unique_ptr<X11Connection> open(QString* reason = nullptr);

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return m_display; }
    int fileDescriptor() const;

    // Queries XInput2 (2.0 or later); fills opcode with its major opcode.
    bool hasXInput2(int* opcode = nullptr) const;
    bool hasXTest() const;

private:
    explicit X11Connection(Display* display);
    Display* m_display;
};

// Catches the X errors of one connection while it lives, so a window that vanished mid-call is a
// failed call rather than the default handler ending the process; errors of other connections still
// go to the handler that was there before. Main thread only; traps do not nest.
class X11ErrorTrap
{
public:
    explicit X11ErrorTrap(Display* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Waits for the server to process what was sent, then gives the first error code caught (0: none).
    int errorCode();

private:
    Display* m_display;
};

// Whether a session without X11 is running (Wayland with no XWayland display), for clear errors.
QString describeMissingX11();

// "Trusted for accessibility" on Linux: an X11 display that offers XInput2 (to observe keys) and
// XTest (to type and paste). Fills reason when it is not.
bool x11InputAccessAvailable(QString* reason = nullptr);

} // namespace tessvale
