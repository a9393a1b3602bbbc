#include "cloud/ServiceURLTrust.h"

#include <optional>

namespace tessvale {

namespace {

// The longest address a refusal quotes; the rest is the service's to fill.
constexpr qsizetype maxQuotedAddress = 200;

QString encodedHost(const QUrl& url)
{
    // The encoded (ASCII) host, so look-alike Unicode hosts cannot pass as the domain.
    return url.host(QUrl::FullyEncoded).toLower();
}

// Why url fails the trust check, as the end of a sentence; nothing when it passes.
std::optional<QString> distrust(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain)
{
    const QString domain = trustedDomain.toLower();
    if (domain.isEmpty())
        return QStringLiteral("but no service domain is set up to trust");
    if (url.scheme().isEmpty() || url.scheme().toLower() != requiredScheme)
        return QStringLiteral("which does not use %1").arg(requiredScheme);
    const QString host = encodedHost(url);
    if (host.isEmpty())
        return QStringLiteral("which names no host");
    if (host == domain || host.endsWith(QLatin1Char('.') + domain))
        return std::nullopt;
    return QStringLiteral("whose host is outside %1").arg(domain);
}

// Scheme, host and port only: the path and query may carry anything, user information a secret.
QString quotedAddress(const QUrl& url)
{
    const QString address
        = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
              .toString(QUrl::FullyEncoded);
    if (address.isEmpty())
        return QStringLiteral("an empty address");
    if (address.size() > maxQuotedAddress)
        return address.left(maxQuotedAddress) + QStringLiteral("...");
    return address;
}

} // namespace

bool isTrustedServiceURL(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain)
{
    return !distrust(url, requiredScheme, trustedDomain).has_value();
}

QUrl validatedServiceURL(
    const QUrl& url, const QString& requiredScheme, const QString& failureText, const WireDecoder& decoder)
{
    const std::optional<QString> why = distrust(url, requiredScheme, decoder.trustedServiceDomain());
    if (why) {
        const QString refusal
            = QStringLiteral("%1 The cloud service sent %2, %3.").arg(failureText, quotedAddress(url), *why);
        throw DecodingError::untrustedURL(decoder.codingPath(), failureText, refusal);
    }
    return url;
}

} // namespace tessvale
