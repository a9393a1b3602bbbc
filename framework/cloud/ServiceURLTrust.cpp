#include "cloud/ServiceURLTrust.h"

namespace tessvale {

bool isTrustedServiceURL(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain)
{
    const QString domain = trustedDomain.toLower();
    if (domain.isEmpty() || url.scheme().isEmpty() || url.scheme().toLower() != requiredScheme)
        return false;
    // The encoded (ASCII) host, so look-alike Unicode hosts cannot pass as the domain.
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.isEmpty())
        return false;
    return host == domain || host.endsWith(QLatin1Char('.') + domain);
}

QUrl validatedServiceURL(
    const QUrl& url, const QString& requiredScheme, const QString& failureText, const WireDecoder& decoder)
{
    if (!isTrustedServiceURL(url, requiredScheme, decoder.trustedServiceDomain()))
        throw DecodingError::dataCorrupted(decoder.codingPath(), failureText);
    return url;
}

} // namespace tessvale
