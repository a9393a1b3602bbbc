// Feeds arbitrary bytes, as a response body, to the decoder of every REST response record. Decoding
// may fail only with DecodingError (and CloudClientError from the device sign-in status); a record
// that decodes must carry only trusted service URLs.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "cloud/CloudClientError.h"
#include "cloud/CloudRestResponses.h"
#include "cloud/DecodingError.h"
#include "cloud/ServiceURLTrust.h"

using namespace tessvale;

namespace {

const QString trustedDomain = QStringLiteral("tessvale.test");

void requireTrusted(const QUrl& url, const QString& scheme)
{
    if (!isTrustedServiceURL(url, scheme, trustedDomain))
        std::abort();
}

template <typename T, typename Check> void decodeAs(const QJsonValue& value, const WireDecoder& decoder, Check check)
{
    try {
        check(T::decode(value, decoder));
    } catch (const DecodingError& error) {
        (void)error.what();
    } catch (const CloudClientError& error) {
        if (error.errorCase() != CloudClientError::Case::invalidResponse)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QJsonValue value;
    try {
        value = parseWireJSON(bytes);
    } catch (const DecodingError&) {
        return 0;
    }
    const WireDecoder decoder(trustedDomain);
    const auto nothing = [](const auto&) {};
    decodeAs<DeviceAuthStartResponse>(value, decoder, nothing);
    decodeAs<NativeAuthStartResponse>(value, decoder, [](const NativeAuthStartResponse& r) {
        if (!isTrustedSignInPageURL(r.authorizationURL, trustedDomain))
            std::abort();
    });
    decodeAs<User>(value, decoder, nothing);
    decodeAs<DeviceSummary>(value, decoder, nothing);
    decodeAs<ClientMeResponse>(value, decoder, nothing);
    decodeAs<ClientConfigResponse>(value, decoder,
        [](const ClientConfigResponse& r) { requireTrusted(r.webSocketURL, ServiceURLTrust::webSocketScheme); });
    decodeAs<NativeAuthTokenResponse>(value, decoder, [](const NativeAuthTokenResponse& r) {
        requireTrusted(r.config.webSocketURL, ServiceURLTrust::webSocketScheme);
    });
    decodeAs<DictationSessionRecoveryResponse>(value, decoder, nothing);
    decodeAs<ClientUpdateResponse>(value, decoder,
        [](const ClientUpdateResponse& r) { requireTrusted(r.downloadURL, ServiceURLTrust::httpsScheme); });
    decodeAs<ApiKeySummary>(value, decoder, nothing);
    decodeAs<DeviceAuthStatusResponse>(value, decoder, [](const DeviceAuthStatusResponse& r) {
        try {
            const DeviceAuthStatus status = r.status();
            if ((status.statusCase == DeviceAuthStatus::Case::approved) != status.approved.has_value())
                std::abort();
        } catch (const DecodingError&) {
        } catch (const CloudClientError&) {
        }
    });
    return 0;
}
