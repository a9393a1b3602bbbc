#pragma once

#include <QRect>
#include <QSize>

class QScreen;

namespace tessvale {

// Where a window of the preferred content size comes up in a screen's available area: centred,
// and no larger than the area leaves room for, title bar included.
QRect fittedWindowGeometry(QSize preferred, const QRect& available);

// A minimum content size no larger than what fits in the available area with a title bar.
QSize fittedMinimumSize(QSize minimum, const QRect& available);

// The screen the user is on: the pointer's, else the primary one; null without any screen.
QScreen* screenOfPointer();

} // namespace tessvale
