#pragma once

// X11 headers last in whoever includes this: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>

namespace tessvale::testing {

// Presses keys the way a user's keyboard would reach the X server, from a connection of the test's own.
class XTestKeyboard
{
public:
    XTestKeyboard();
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool isOpen() const { return m_display != nullptr; }
    Display* display() const { return m_display; }
    void send(KeySym keysym, bool press);
    void down(KeySym keysym) { send(keysym, true); }
    void up(KeySym keysym) { send(keysym, false); }

private:
    Display* m_display;
};

} // namespace tessvale::testing
