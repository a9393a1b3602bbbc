#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>
#include <optional>
#include <vector>

#include "platform/focus/WindowSystem.h"

// Xlib's Display, kept opaque so callers outside the Linux backends never see X11 headers.
typedef struct _XDisplay Display;

namespace tessvale {

class X11Connection;

// The client window (the one carrying WM_STATE) that holds the X input focus or has it on a child,
// as toolkits with a focus proxy do; the focus window itself when none on its way up carries
// WM_STATE (no window manager, an override-redirect window). Absent when the focus is on no window,
// the root or the pointer's window.
std::optional<unsigned long> focusedClientWindow(Display* display);

// The frontmost application and activation through the window manager's EWMH hints on the root
// window. The WM_CLASS class names the application; its instance name stands in for the bundle
// identifier. Main thread only; works without a display by reporting nothing.
class EwmhWindowSystem final : public WindowSystem
{
public:
    EwmhWindowSystem();
    ~EwmhWindowSystem() override;

    std::optional<FrontmostApplication> frontmostApplication() override;
    std::optional<KeyboardFocusWindow> keyboardFocusWindow() override;
    bool isRunning(qint32 processIdentifier) override;
    PlatformResult requestActivation(qint32 processIdentifier) override;

private:
    bool ensureConnection();
    std::vector<unsigned long> clientWindows();
    std::optional<qint32> processOf(unsigned long window);

    std::unique_ptr<X11Connection> m_connection;
    bool m_triedConnection = false;
};

} // namespace tessvale
