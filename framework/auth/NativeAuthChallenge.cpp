#include "auth/NativeAuthChallenge.h"

#include <array>

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUuid>

namespace tessvale {

namespace {

// A version-4 UUID drawn from the operating system's secure random source, never from a seeded
// generator, since the verifier is the only secret of the exchange.
QUuid secureRandomUuid()
{
    std::array<quint32, 4> words;
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes(reinterpret_cast<const char*>(words.data()), 16);
    bytes[6] = char((uchar(bytes[6]) & 0x0F) | 0x40);
    bytes[8] = char((uchar(bytes[8]) & 0x3F) | 0x80);
    return QUuid::fromRfc4122(bytes);
}

QString lowerHex(const QUuid& uuid)
{
    return uuid.toString(QUuid::Id128).toLower();
}

} // namespace

NativeAuthChallenge::NativeAuthChallenge()
    : m_state(secureRandomUuid().toString(QUuid::WithoutBraces).toLower())
    , m_codeVerifier(lowerHex(secureRandomUuid()) + lowerHex(secureRandomUuid()))
    , m_codeChallenge(pkceCodeChallenge(m_codeVerifier))
{
}

QString NativeAuthChallenge::pkceCodeChallenge(const QString& verifier)
{
    const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace tessvale
