#include "support/shortcuts/XTestKeyboard.h"

#include <X11/extensions/XTest.h>

namespace tessvale::testing {

XTestKeyboard::XTestKeyboard()
    : m_display(XOpenDisplay(nullptr))
{
}

XTestKeyboard::~XTestKeyboard()
{
    if (m_display)
        XCloseDisplay(m_display);
}

void XTestKeyboard::send(KeySym keysym, bool press)
{
    XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, keysym), press ? True : False, CurrentTime);
    XSync(m_display, False);
}

} // namespace tessvale::testing
