#pragma once

typedef struct _XDisplay Display;

namespace tessvale {

// Another X client holding an active grab of the whole keyboard, as a screen locker or an open menu
// does: every key goes to it alone. Released on destruction.
class ForeignKeyboardGrab
{
public:
    ForeignKeyboardGrab();
    ~ForeignKeyboardGrab();
    ForeignKeyboardGrab(const ForeignKeyboardGrab&) = delete;
    ForeignKeyboardGrab& operator=(const ForeignKeyboardGrab&) = delete;

    bool isHeld() const { return m_held; }
    // The key presses this client has received so far.
    int keyPressesReceived();

private:
    Display* m_display;
    bool m_held = false;
    int m_presses = 0;
};

} // namespace tessvale
