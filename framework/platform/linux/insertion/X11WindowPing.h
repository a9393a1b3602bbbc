#pragma once

#include "platform/linux/BackendOnly.h"

#include <optional>

// Xlib's Display, kept opaque so callers outside the Linux backends never see X11 headers.
typedef struct _XDisplay Display;

namespace tessvale {

// The _NET_WM_PING round trip to another client. X delivers a client's events in the order the server
// generated them, and a client answers the ping only when it reads it, so an answer means the client
// has read every event sent to it before the ping (the keys we typed, the keymap changes). Main thread.
class X11WindowPing
{
public:
    // The top-level client window holding the keyboard focus now, when it answers pings.
    static std::optional<unsigned long> focusedPingableWindow(Display* display);

    // Sends the ping and watches the root window for its answer until destruction.
    X11WindowPing(Display* display, unsigned long window);
    ~X11WindowPing();
    X11WindowPing(const X11WindowPing&) = delete;
    X11WindowPing& operator=(const X11WindowPing&) = delete;

    // Reads what the server has sent so far; true once the answer has come.
    bool answered();

private:
    Display* m_display;
    unsigned long m_window;
    long m_serial;
    bool m_answered = false;
};

} // namespace tessvale
