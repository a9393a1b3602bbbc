#pragma once

#include <QWidget>

namespace tessvale {

// Brings a window of ours in front: restored when minimized, shown, raised and activated as far as
// the desktop allows. Whether it is visible now.
inline bool presentWindow(QWidget* window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window->isVisible();
}

} // namespace tessvale
