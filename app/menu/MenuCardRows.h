#pragma once

#include <QBrush>
#include <QColor>

#include "menu/MenuBarContentModel.h"

class QPainter;
class QRectF;
class QWidget;

namespace tessvale {

// The rows of the menu card, one widget class for each kind: the status and header rows, the
// message row, the pressable rows and the divider.

constexpr int kMenuCardWidth = 320;
constexpr int kMenuCardPadding = 14;
constexpr int kMenuOuterPadding = 8;
constexpr qreal kMenuCardRadius = 18;

// A new row widget for the kind; a pressable row is a QAbstractButton.
QWidget* makeMenuRow(MenuRowKind kind, QWidget* parent);
// Shows the row in a widget made for its kind.
void applyMenuRow(QWidget* widget, const MenuRow& row);
// Whether the widget is a status or header row, which the card opens on.
bool isMenuTitleRow(const QWidget* widget);

QColor withAlpha(QColor color, double alpha);
void fillRounded(QPainter& painter, const QRectF& rect, qreal radius, const QBrush& fill, const QColor& stroke);

} // namespace tessvale
