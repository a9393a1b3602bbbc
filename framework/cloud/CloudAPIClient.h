#pragma once

#include <chrono>
#include <optional>

#include <QByteArray>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include "async/Sleeper.h"
#include "cloud/CloudEndpoints.h"
#include "cloud/CloudRestRequests.h"
#include "cloud/CloudRestResponses.h"
#include "cloud/WireDecoding.h"

class QNetworkAccessManager;

namespace tessvale {

// The cloud service's REST client. It keeps no account state: the REST origin and, where needed,
// the API key are arguments of every call. Failures are CloudClientError for answers the service
// gave (status outside 200-299, an undecodable body) and CloudTransportError for the transfer.
// Redirects are followed only within the request's own origin, so the API key never leaves it.
class CloudAPIClient
{
public:
    static constexpr Duration defaultRequestTimeout = std::chrono::seconds(10);
    // The health check sets no time-out of its own, so the platform's default for a request applies:
    // 60 s. Qt's own default (0) would mean no limit at all.
    static constexpr Duration defaultHealthTimeout = std::chrono::seconds(60);
    static inline const QByteArray apiKeyHeader = cloudApiKeyHeader;
    // A failed response's text reaches users and logs at most this long (grapheme clusters).
    static constexpr qsizetype maxErrorBodyCharacters = 512;

    struct Options
    {
        // Production trusts the system's CAs (for a loopback host also those named by
        // TESSVALE_LOOPBACK_CA_FILE, see LoopbackTrust.h); tests give their own.
        std::optional<QSslConfiguration> sslConfiguration;
        // Time without progress after which a request fails.
        Duration requestTimeout = defaultRequestTimeout;
        // The same, for the health check.
        Duration healthTimeout = defaultHealthTimeout;
        // Which domain service-supplied URLs must belong to.
        WireDecoder decoder;
    };

    explicit CloudAPIClient(QNetworkAccessManager* session);
    CloudAPIClient(QNetworkAccessManager* session, Options options);

    QCoro::Task<DeviceAuthStartResponse> startDeviceAuth(
        QUrl baseURL, QString email, QString deviceName, QString appVersion) const;
    QCoro::Task<DeviceAuthStatusResponse> pollDeviceAuth(QUrl baseURL, QUuid requestID) const;
    QCoro::Task<NativeAuthStartResponse> startNativeAuth(QUrl baseURL, QString deviceName, QString appVersion,
        QString codeChallenge, QString redirectURI, QString state) const;
    QCoro::Task<NativeAuthTokenResponse> exchangeNativeAuthToken(
        QUrl baseURL, QUuid attemptID, QString code, QString codeVerifier, QString redirectURI) const;
    QCoro::Task<> cancelNativeAuth(QUrl baseURL, QUuid attemptID) const;
    QCoro::Task<ClientMeResponse> fetchMe(QUrl baseURL, QString apiKey) const;
    QCoro::Task<ClientConfigResponse> fetchClientConfig(QUrl baseURL, QString apiKey) const;
    QCoro::Task<DictationSessionRecoveryResponse> fetchDictationRecovery(
        QUrl baseURL, QString apiKey, QUuid sessionID) const;
    QCoro::Task<ClientUpdateResponse> fetchMacOSUpdate(QUrl baseURL, QString currentVersion) const;
    // The response text, trimmed. A failure status gives requestFailed with the sanitized body.
    QCoro::Task<QString> fetchHealth(QUrl baseURL) const;

    // The message of a failed response: "<unreadable>" unless UTF-8; apiKey members and
    // tv_live_/tv_test_ keys redacted; more than 512 characters cut to 512 followed by "...".
    static QString sanitizedErrorBody(const QByteArray& body);

    // baseURL with path appended: slashes trimmed from path, joined by one "/", the base's own path kept.
    static QUrl appendingPath(const QUrl& baseURL, const QString& path);

private:
    struct Request
    {
        QByteArray method;
        QUrl url;
        std::optional<QString> apiKey;
        std::optional<QByteArray> body;
        bool jsonContentType = true;
        // Options::requestTimeout when absent.
        std::optional<Duration> timeout;
    };

    struct Reply
    {
        // Absent when the answer was not an HTTP response.
        std::optional<int> statusCode;
        QByteArray body;
    };

    // Sends request and returns the answer; transfer failures throw CloudTransportError.
    QCoro::Task<Reply> perform(Request request) const;
    // perform(), then the status rules shared by every endpoint but the health check.
    QCoro::Task<QByteArray> performChecked(Request request) const;

    QPointer<QNetworkAccessManager> m_session;
    Options m_options;
};

} // namespace tessvale
