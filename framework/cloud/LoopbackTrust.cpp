#include "cloud/LoopbackTrust.h"

#include <atomic>

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>

#include "base/Logging.h"

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

std::optional<QSslConfiguration> sslConfigurationFor(
    const QUrl& url, const std::optional<QSslConfiguration>& configured)
{
    if (configured)
        return configured;
    const QString path = qEnvironmentVariable(loopbackCAFileVariable);
    if (path.isEmpty() || !isLoopbackHost(url.host()))
        return std::nullopt;

    // Read at every connection: a restarted local service writes a new CA to the same file.
    QFile file(path);
    const QList<QSslCertificate> authorities = file.open(QIODevice::ReadOnly)
        ? QSslCertificate::fromData(file.readAll(), QSsl::Pem)
        : QList<QSslCertificate> {};
    if (authorities.isEmpty()) {
        static std::atomic_bool warned = false;
        if (!warned.exchange(true))
            qCWarning(lcCloudAPI) << loopbackCAFileVariable << "names no readable PEM certificate:" << path;
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(authorities);
    return configuration;
}

} // namespace tessvale
