#include "cloud/ServiceURLTrust.h"

#include <optional>

#include "cloud/LoopbackHost.h"

namespace tessvale {

namespace {

// The longest address a refusal quotes; the rest is the service's to fill.
constexpr qsizetype maxQuotedAddress = 200;

QString encodedHost(const QUrl& url)
{
    // The encoded (ASCII) host, so look-alike Unicode hosts cannot pass as the domain.
    return url.host(QUrl::FullyEncoded).toLower();
}

enum class LoopbackHttp { refused, allowed };

// Why url fails the trust check, as the end of a sentence; nothing when it passes.
std::optional<QString> distrust(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain,
    LoopbackHttp loopbackHttp = LoopbackHttp::refused)
{
    const QString domain = trustedDomain.toLower();
    if (domain.isEmpty())
        return QStringLiteral("but no service domain is set up to trust");
    const QString host = encodedHost(url);
    const QString scheme = url.scheme().toLower();
    const bool plainOnLoopback = loopbackHttp == LoopbackHttp::allowed && scheme == ServiceURLTrust::httpScheme
        && !host.isEmpty() && isLoopbackHost(host);
    if (scheme.isEmpty() || (scheme != requiredScheme && !plainOnLoopback))
        return QStringLiteral("which does not use %1").arg(requiredScheme);
    if (host.isEmpty())
        return QStringLiteral("which names no host");
    if (host == domain || host.endsWith(QLatin1Char('.') + domain))
        return std::nullopt;
    return QStringLiteral("whose host is outside %1").arg(domain);
}

// Scheme, host and port only: the path and query may carry anything, user information a secret.
QString quotedAddress(const QUrl& url)
{
    QString address = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                          .toString(QUrl::FullyEncoded);
    if (address.isEmpty())
        return QStringLiteral("an empty address");
    if (address.size() > maxQuotedAddress)
        return address.left(maxQuotedAddress) + QStringLiteral("...");
    return address;
}

QUrl refuseOrPass(
    const QUrl& url, const std::optional<QString>& why, const QString& failureText, const WireDecoder& decoder)
{
    if (why) {
        const QString refusal
            = QStringLiteral("%1 The cloud service sent %2, %3.").arg(failureText, quotedAddress(url), *why);
        throw DecodingError::untrustedURL(decoder.codingPath(), failureText, refusal);
    }
    return url;
}

} // namespace

bool isTrustedServiceURL(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain)
{
    return !distrust(url, requiredScheme, trustedDomain).has_value();
}

QUrl validatedServiceURL(
    const QUrl& url, const QString& requiredScheme, const QString& failureText, const WireDecoder& decoder)
{
    return refuseOrPass(url, distrust(url, requiredScheme, decoder.trustedServiceDomain()), failureText, decoder);
}

bool isTrustedSignInPageURL(const QUrl& url, const QString& trustedDomain)
{
    return !distrust(url, ServiceURLTrust::httpsScheme, trustedDomain, LoopbackHttp::allowed).has_value();
}

QUrl validatedSignInPageURL(const QUrl& url, const QString& failureText, const WireDecoder& decoder)
{
    const std::optional<QString> why
        = distrust(url, ServiceURLTrust::httpsScheme, decoder.trustedServiceDomain(), LoopbackHttp::allowed);
    return refuseOrPass(url, why, failureText, decoder);
}

} // namespace tessvale
