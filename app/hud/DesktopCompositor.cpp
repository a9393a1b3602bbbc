#include "hud/DesktopCompositor.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>

namespace tessvale {

bool desktopCompositorRunning()
{
    if (!qGuiApp)
        return false;
    // Qt 6 has no public query for this; on X11 a compositing manager owns _NET_WM_CM_S<screen>.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->display()) {
        Display* display = x11->display();
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
        const Atom selection = XInternAtom(display, name.constData(), False);
        return XGetSelectionOwner(display, selection) != None;
    }
    return QGuiApplication::platformName() == QLatin1String("wayland");
}

} // namespace tessvale
