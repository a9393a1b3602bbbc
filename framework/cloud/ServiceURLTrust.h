#pragma once

#include <QString>
#include <QUrl>

#include "cloud/WireDecoding.h"

namespace tessvale {

namespace ServiceURLTrust {
inline const QString webSocketScheme = QStringLiteral("wss");
inline const QString httpsScheme = QStringLiteral("https");
inline const QString httpScheme = QStringLiteral("http");
inline const QString untrustedWebSocketURL = QStringLiteral("Untrusted WebSocket URL.");
inline const QString untrustedAuthorizationURL = QStringLiteral("Untrusted authorization URL.");
inline const QString untrustedDownloadURL = QStringLiteral("Untrusted download URL.");
} // namespace ServiceURLTrust

// True when url's scheme (lower-cased) is requiredScheme and its host (lower-cased) is
// trustedDomain or ends with "." + trustedDomain. Port, user, path, query and fragment are ignored.
// An empty trusted domain trusts nothing.
bool isTrustedServiceURL(const QUrl& url, const QString& requiredScheme, const QString& trustedDomain);

// Returns url when it passes the trust check for decoder's trusted domain, else throws
// DecodingError::untrustedURL with failureText at decoder's coding path, its refusal naming the
// address (scheme, host and port) and why it was refused.
QUrl validatedServiceURL(
    const QUrl& url, const QString& requiredScheme, const QString& failureText, const WireDecoder& decoder);

// The sign-in page the browser opens: https under the trusted domain, or plain http when its host is
// also a loopback one (see isLoopbackHost), since that traffic never leaves this computer and
// browsers open such a page without a certificate warning.
bool isTrustedSignInPageURL(const QUrl& url, const QString& trustedDomain);
QUrl validatedSignInPageURL(const QUrl& url, const QString& failureText, const WireDecoder& decoder);

} // namespace tessvale
