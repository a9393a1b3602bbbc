#pragma once

#include <optional>

#include <QString>

#include "platform/PlatformResult.h"

namespace tessvale {

// The frontmost application as the window system names it.
struct FrontmostApplication
{
    // The application's display name; empty when it has none.
    QString name;
    std::optional<QString> bundleIdentifier;
    qint32 processIdentifier = 0;
    QString windowTitle;
    quint64 windowId = 0;
};

// The top-level window that receives the keyboard's keys now.
struct KeyboardFocusWindow
{
    quint64 windowId = 0;
    // 0 when the window names no process.
    qint32 processIdentifier = 0;
};

// Frontmost application and activation by process: the workspace's part of the platform.
class WindowSystem
{
public:
    virtual ~WindowSystem() = default;

    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

    // Where typed keys go now. This moves before the window manager announces a new active window,
    // which may lag by seconds. Absent when keys go to no window (or to whichever the pointer is in).
    virtual std::optional<KeyboardFocusWindow> keyboardFocusWindow() = 0;

    // Whether a window of that process is shown.
    virtual bool isRunning(qint32 processIdentifier) = 0;

    // Asks the window manager to bring that process's window to the front; fails when the request
    // could not be made (no such window, no window manager).
    virtual PlatformResult requestActivation(qint32 processIdentifier) = 0;
};

} // namespace tessvale
