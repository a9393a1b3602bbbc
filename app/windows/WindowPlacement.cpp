#include "windows/WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

namespace tessvale {

namespace {

// The window manager's title bar and borders lie outside the geometry a window sets before it is
// first shown: most of it above, a frame edge or resize handle below.
constexpr int kDecorationAllowance = 48;
constexpr int kDecorationBelow = 8;
// The frame's side edges, on both sides together.
constexpr int kDecorationSides = 8;

QSize roomFor(const QRect& available)
{
    return QSize(available.width() - kDecorationSides, available.height() - kDecorationAllowance);
}

} // namespace

QRect fittedWindowGeometry(QSize preferred, const QRect& available)
{
    const QSize size = preferred.boundedTo(roomFor(available));
    // Centred with its decoration, whose title bar goes above the content.
    const QRect outer = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
        QSize(size.width() + kDecorationSides, size.height() + kDecorationAllowance), available);
    return QRect(
        QPoint(outer.left() + kDecorationSides / 2, outer.top() + kDecorationAllowance - kDecorationBelow), size);
}

QSize fittedMinimumSize(QSize minimum, const QRect& available)
{
    return minimum.boundedTo(roomFor(available));
}

QScreen* screenOfPointer()
{
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

} // namespace tessvale
