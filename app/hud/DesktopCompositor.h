#pragma once

namespace tessvale {

// Whether a compositing manager runs on the desktop, so that translucent windows are blended. Asked
// anew on each call: a compositor may come and go while the application runs.
bool desktopCompositorRunning();

} // namespace tessvale
