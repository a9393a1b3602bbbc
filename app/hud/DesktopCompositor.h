#pragma once

class QPainterPath;
class QWidget;

namespace tessvale {

// Whether a compositing manager runs on the desktop, so that translucent windows are blended. Asked
// anew on each call: a compositor may come and go while the application runs.
bool desktopCompositorRunning();

// Cuts a top-level window to shape (in its logical coordinates), for desktops that cannot blend its
// transparent parts. A widget mask is a region of logical pixels, stepped at the scale factor; on X11
// the window's own shape is then set from the path in device pixels, so a curve is as fine as the
// screen draws it.
void setWindowShape(QWidget* window, const QPainterPath& shape);

} // namespace tessvale
