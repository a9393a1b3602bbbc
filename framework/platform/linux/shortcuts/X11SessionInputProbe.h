#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <memory>

#include "platform/shortcuts/SessionInputProbe.h"

namespace tessvale {

class X11Connection;

// Probes the X server with a keyboard grab of its own (refused while another client holds one) and
// reads the lock from whichever source the desktop offers: the X screen saver, the desktop's
// org.freedesktop.ScreenSaver service, or logind's LockedHint. Main thread; answers without a
// display are "not blocked", since nothing can then be typed anyway.
class X11SessionInputProbe final : public SessionInputProbe
{
public:
    // A desktop service that does not answer within this is taken as not locked: the probe runs on
    // the main thread, between a key event and the action it starts.
    static constexpr std::chrono::milliseconds busCallTimeout { 250 };

    X11SessionInputProbe();
    ~X11SessionInputProbe() override;

    bool isKeyboardGrabbedElsewhere() override;
    bool isSessionLocked() override;

private:
    bool ensureConnection();
    bool isScreenSaverOn();

    std::unique_ptr<X11Connection> m_connection;
};

} // namespace tessvale
