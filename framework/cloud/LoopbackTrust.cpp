#include "cloud/LoopbackTrust.h"

#include <atomic>

#include <QFile>
#include <QSslCertificate>

#include "base/Logging.h"

namespace tessvale {

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
