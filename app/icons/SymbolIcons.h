#pragma once

#include <QIcon>
#include <QString>

namespace tessvale {

// The icon drawn for one of the coordinator's symbol names ("mic", "stop.fill", ...).
QIcon symbolIcon(const QString& name);

} // namespace tessvale
