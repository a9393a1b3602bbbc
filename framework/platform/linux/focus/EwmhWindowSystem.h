#pragma once

#include "platform/linux/BackendOnly.h"

#include <memory>
#include <optional>
#include <vector>

#include "platform/focus/WindowSystem.h"

namespace tessvale {

class X11Connection;

// The frontmost application and activation through the window manager's EWMH hints on the root
// window. The WM_CLASS class names the application; its instance name stands in for the bundle
// identifier. Main thread only; works without a display by reporting nothing.
class EwmhWindowSystem final : public WindowSystem
{
public:
    EwmhWindowSystem();
    ~EwmhWindowSystem() override;

    std::optional<FrontmostApplication> frontmostApplication() override;
    bool isRunning(qint32 processIdentifier) override;
    bool requestActivation(qint32 processIdentifier) override;

private:
    bool ensureConnection();
    std::vector<unsigned long> clientWindows();
    std::optional<qint32> processOf(unsigned long window);

    std::unique_ptr<X11Connection> m_connection;
    bool m_triedConnection = false;
};

} // namespace tessvale
