#include "hud/DesktopCompositor.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QPainterPath>
#include <QPolygon>
#include <QRegion>
#include <QTransform>
#include <QVector>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

namespace tessvale {

namespace {

QRegion regionOf(const QPainterPath& path)
{
    return QRegion(path.toFillPolygon().toPolygon(), Qt::WindingFill);
}

Display* x11Display()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

} // namespace

bool desktopCompositorRunning()
{
    if (!qGuiApp)
        return false;
    // Qt 6 has no public query for this; on X11 a compositing manager owns _NET_WM_CM_S<screen>.
    if (Display* display = x11Display()) {
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
        const Atom selection = XInternAtom(display, name.constData(), False);
        return XGetSelectionOwner(display, selection) != None;
    }
    return QGuiApplication::platformName() == QLatin1String("wayland");
}

void setWindowShape(QWidget* window, const QPainterPath& shape)
{
    // Qt keeps the logical mask: it decides where the pointer reaches the window.
    window->setMask(regionOf(shape));
    const qreal ratio = window->devicePixelRatioF();
    Display* display = x11Display();
    if (ratio == 1.0 || !display)
        return;
    const QRegion device = regionOf(QTransform::fromScale(ratio, ratio).map(shape));
    QVector<XRectangle> rectangles;
    for (const QRect& rect : device) {
        rectangles.append({ static_cast<short>(rect.x()), static_cast<short>(rect.y()),
            static_cast<unsigned short>(rect.width()), static_cast<unsigned short>(rect.height()) });
    }
    XShapeCombineRectangles(display, static_cast<::Window>(window->winId()), ShapeBounding, 0, 0, rectangles.data(),
        static_cast<int>(rectangles.size()), ShapeSet, Unsorted);
    XFlush(display);
}

} // namespace tessvale
