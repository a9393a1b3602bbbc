#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace tessvale {

// The icons behind the symbol names that the coordinator and the views use ("mic",
// "record.circle.fill", ...). The drawings ship as SVG resources under packaging/icons/symbols/.

// The variant that reads on the application's palette; a null icon for a name without a drawing.
QIcon symbolIcon(const QString& name);
// For the tray: white over a dark halo, so it reads on a light panel and on a dark one. Names
// without a tray drawing get symbolIcon().
QIcon traySymbolIcon(const QString& name);
// The drawing in one colour (its cut-out marks stay white), size logical pixels square.
QPixmap tintedSymbolPixmap(const QString& name, const QColor& tint, int size, qreal devicePixelRatio = 1.0);

// Every name that has a drawing, and the resource file of one variant ("light", "dark", "tray");
// empty when that variant is not drawn.
QStringList symbolIconNames();
QString symbolIconPath(const QString& name, const QString& variant);

} // namespace tessvale
