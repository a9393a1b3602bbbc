#pragma once

#include <QString>

namespace tessvale {

// The per-attempt material of a browser sign-in with a proof key: the state echoed back by the
// browser, the secret verifier and its S256 challenge.
class NativeAuthChallenge
{
public:
    // Fresh material from the system's cryptographically secure random source.
    NativeAuthChallenge();

    // A random UUID in lower case, hyphens kept (36 characters).
    const QString& state() const { return m_state; }
    // 64 lower-case hexadecimal characters (two random UUIDs without hyphens).
    const QString& codeVerifier() const { return m_codeVerifier; }
    // pkceCodeChallenge(codeVerifier()).
    const QString& codeChallenge() const { return m_codeChallenge; }

    // Unpadded base64url of the SHA-256 digest of the verifier's UTF-8 bytes.
    static QString pkceCodeChallenge(const QString& verifier);

private:
    QString m_state;
    QString m_codeVerifier;
    QString m_codeChallenge;
};

} // namespace tessvale
