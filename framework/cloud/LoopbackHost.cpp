#include "cloud/LoopbackHost.h"

#include <QHostAddress>

namespace tessvale {

bool isLoopbackHost(const QString& host)
{
    // QUrl::host() gives IPv6 addresses without brackets and names in lower case.
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name == QStringLiteral("localhost"))
        return true;
    QHostAddress address;
    return address.setAddress(name) && address.isLoopback();
}

} // namespace tessvale
