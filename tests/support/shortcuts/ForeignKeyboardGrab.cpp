#include "support/shortcuts/ForeignKeyboardGrab.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>

namespace tessvale {

ForeignKeyboardGrab::ForeignKeyboardGrab()
    : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    m_held = XGrabKeyboard(m_display, DefaultRootWindow(m_display), False, GrabModeAsync, GrabModeAsync, CurrentTime)
        == GrabSuccess;
    XSync(m_display, False);
}

ForeignKeyboardGrab::~ForeignKeyboardGrab()
{
    if (!m_display)
        return;
    XUngrabKeyboard(m_display, CurrentTime);
    XCloseDisplay(m_display);
}

int ForeignKeyboardGrab::keyPressesReceived()
{
    if (!m_display)
        return 0;
    XSync(m_display, False);
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == KeyPress)
            ++m_presses;
    }
    return m_presses;
}

} // namespace tessvale
