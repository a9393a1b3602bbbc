#include "cloud/CloudAPIClient.h"

#include <memory>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include "async/OneShot.h"
#include "base/ApiKeyMatcher.h"
#include "base/Logging.h"
#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/DecodingError.h"
#include "cloud/LoopbackTrust.h"

namespace tessvale {

namespace {

const QString kNoHTTPResponse = QStringLiteral("Cloud API did not return an HTTP response.");
const QString kHealthNoHTTPResponse = QStringLiteral("Health check did not return an HTTP response.");
const QString kUndecodable = QStringLiteral("Unable to decode cloud response.");
const QString kUnreadable = QStringLiteral("<unreadable>");

// Disposes of a reply on every way out; the reply may already be gone with its network session.
struct ReplyGuard
{
    QPointer<QNetworkReply> reply;
    ~ReplyGuard()
    {
        if (reply)
            reply->deleteLater();
    }
};

bool sameOrigin(const QUrl& first, const QUrl& second)
{
    return first.scheme().compare(second.scheme(), Qt::CaseInsensitive) == 0
        && first.host().compare(second.host(), Qt::CaseInsensitive) == 0
        && first.port(first.scheme() == QStringLiteral("http") ? 80 : 443)
        == second.port(second.scheme() == QStringLiteral("http") ? 80 : 443);
}

std::optional<QString> decodedUTF8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

template <typename T> T decodeBody(const QByteArray& body, const WireDecoder& decoder)
{
    try {
        return decodeWireJSON<T>(body, decoder);
    } catch (const DecodingError& error) {
        // A refused address is no garbled answer: what was refused and why reaches the user.
        if (!error.refusal().isEmpty()) {
            qCWarning(lcCloudAPI).noquote() << "Refused a service URL:" << error.refusal();
            throw CloudClientError::invalidResponse(error.refusal());
        }
        qCDebug(lcCloudAPI).noquote() << "Response did not decode:" << error.what();
    } catch (const std::exception& error) {
        qCDebug(lcCloudAPI).noquote() << "Response did not decode:" << error.what();
    } catch (...) {
    }
    throw CloudClientError::invalidResponse(kUndecodable);
}

// Qt sets these for a 4xx or 5xx answer, derived from its status alone; that answer is the service's
// own, and goes by its status. Every other code is a failure of the transfer (connection, proxy,
// time-out, a broken or cut-off reply).
bool mirrorsHttpStatus(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

QString lowerID(const QUuid& id)
{
    return lowercaseUUIDText(id);
}

} // namespace

CloudAPIClient::CloudAPIClient(QNetworkAccessManager* session)
    : CloudAPIClient(session, Options {})
{
}

CloudAPIClient::CloudAPIClient(QNetworkAccessManager* session, Options options)
    : m_session(session)
    , m_options(std::move(options))
{
}

QUrl CloudAPIClient::appendingPath(const QUrl& baseURL, const QString& path)
{
    QString trimmed = path;
    while (trimmed.startsWith(QLatin1Char('/')))
        trimmed.remove(0, 1);
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    QUrl url = baseURL;
    QString basePath = url.path();
    if (!basePath.endsWith(QLatin1Char('/')))
        basePath += QLatin1Char('/');
    url.setPath(basePath + trimmed);
    return url;
}

namespace {

// Line breaks and other control characters of a service's text would let it forge log lines of its
// own; each is written as an escape instead.
QString escapedControlCharacters(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph)
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

QString CloudAPIClient::sanitizedErrorBody(const QByteArray& body)
{
    const std::optional<QString> decoded = decodedUTF8(body);
    if (!decoded)
        return kUnreadable;
    QString text = *decoded;

    text = replaceApiKeys(text, [](const ApiKeyMatch& match) {
        if (match.shape == ApiKeyMatch::Shape::token)
            return QStringLiteral("tv_%1_<redacted>").arg(match.kind);
        // A bare word after the name ("apiKey: required") is the service's prose, not a key.
        return match.quoted ? QStringLiteral("\"apiKey\":\"<redacted>\"") : match.text;
    });
    text = escapedControlCharacters(text);

    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (clusters.toNextBoundary() >= 0) {
        ++count;
        if (count == maxErrorBodyCharacters) {
            const qsizetype end = clusters.position();
            if (end < text.size())
                return text.left(end) + QStringLiteral("...");
            break;
        }
    }
    return text;
}

QCoro::Task<CloudAPIClient::Reply> CloudAPIClient::perform(Request request) const
{
    if (!m_session)
        throw CloudTransportError(CloudTransportError::Code::other, QStringLiteral("The network session is gone."));

    QNetworkRequest networkRequest(request.url);
    const Duration timeout = request.timeout.value_or(m_options.requestTimeout);
    networkRequest.setTransferTimeout(int(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()));
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (const auto ssl = sslConfigurationFor(request.url, m_options.sslConfiguration))
        networkRequest.setSslConfiguration(*ssl);
    if (request.jsonContentType)
        networkRequest.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    if (request.apiKey)
        networkRequest.setRawHeader(apiKeyHeader, request.apiKey->toUtf8());

    QNetworkReply* raw = nullptr;
    if (request.body)
        raw = m_session->sendCustomRequest(networkRequest, request.method, *request.body);
    else if (request.method == "GET")
        raw = m_session->get(networkRequest);
    else
        raw = m_session->sendCustomRequest(networkRequest, request.method);
    ReplyGuard guard { raw };

    // The API key header goes along with a followed redirect: never to another origin.
    auto refusedRedirect = std::make_shared<std::optional<QUrl>>();
    const QUrl origin = request.url;
    QObject::connect(raw, &QNetworkReply::redirected, raw, [raw, origin, refusedRedirect](const QUrl& target) {
        if (sameOrigin(origin, target)) {
            emit raw->redirectAllowed();
            return;
        }
        *refusedRedirect = target;
        raw->abort();
    });

    // The wait ends when the reply goes with its network session too (at quit), or this frame and
    // everything it holds would never be freed.
    OneShot<> ended;
    QObject::connect(raw, &QNetworkReply::finished, raw, [ended]() mutable { ended.resolve(); });
    QObject::connect(raw, &QObject::destroyed, [ended]() mutable { ended.resolve(); });
    if (raw->isFinished())
        ended.resolve();
    co_await ended;
    if (!guard.reply)
        throw CloudTransportError(CloudTransportError::Code::cancelled, QStringLiteral("The request was cancelled."));

    if (refusedRedirect->has_value()) {
        qCWarning(lcCloudAPI).noquote() << "Refused a redirect to another origin:" << (*refusedRedirect)->authority();
        throw CloudTransportError(CloudTransportError::Code::redirectRefused,
            QStringLiteral("The cloud service redirected the request to another origin; it was not followed."));
    }
    const QNetworkReply::NetworkError error = raw->error();
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A status line may have arrived before the transfer failed: the failure wins over the answer.
    if (error != QNetworkReply::NoError && (!status.isValid() || !mirrorsHttpStatus(error))) {
        // The transfer time-out shows as a cancellation; nothing else cancels these replies.
        if (error == QNetworkReply::OperationCanceledError)
            throw CloudTransportError::fromNetworkError(QNetworkReply::TimeoutError, raw->errorString());
        throw CloudTransportError::fromNetworkError(error, raw->errorString());
    }
    if (status.isValid())
        co_return Reply { status.toInt(), raw->readAll() };
    co_return Reply { std::nullopt, raw->readAll() };
}

QCoro::Task<QByteArray> CloudAPIClient::performChecked(Request request) const
{
    QCoro::Task<Reply> exchange = perform(std::move(request));
    const Reply reply = co_await std::move(exchange);
    if (!reply.statusCode)
        throw CloudClientError::invalidResponse(kNoHTTPResponse);
    const int status = *reply.statusCode;
    if (status < 200 || status > 299)
        throw CloudClientError::requestFailed(status, sanitizedErrorBody(reply.body));
    co_return reply.body;
}

// Requests are named variables, never braced temporaries inside a co_await expression: GCC 12
// destroys such temporaries twice.

QCoro::Task<DeviceAuthStartResponse> CloudAPIClient::startDeviceAuth(
    QUrl baseURL, QString email, QString deviceName, QString appVersion) const
{
    const WireDecoder decoder = m_options.decoder;
    const QByteArray body = DeviceAuthStartRequest(email, deviceName, appVersion).encoded();
    Request request { "POST", appendingPath(baseURL, QStringLiteral("/client/v1/device-auth/start")), std::nullopt,
        body };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<DeviceAuthStartResponse>(answer, decoder);
}

QCoro::Task<DeviceAuthStatusResponse> CloudAPIClient::pollDeviceAuth(QUrl baseURL, QUuid requestID) const
{
    const WireDecoder decoder = m_options.decoder;
    Request request { "GET", appendingPath(baseURL, QStringLiteral("/client/v1/device-auth/") + lowerID(requestID)) };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<DeviceAuthStatusResponse>(answer, decoder);
}

QCoro::Task<NativeAuthStartResponse> CloudAPIClient::startNativeAuth(QUrl baseURL, QString deviceName,
    QString appVersion, QString codeChallenge, QString redirectURI, QString state) const
{
    const WireDecoder decoder = m_options.decoder;
    const QByteArray body = NativeAuthStartRequest(deviceName, appVersion, codeChallenge, redirectURI, state).encoded();
    Request request { "POST", appendingPath(baseURL, QStringLiteral("/client/v1/native-auth/start")), std::nullopt,
        body };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<NativeAuthStartResponse>(answer, decoder);
}

QCoro::Task<NativeAuthTokenResponse> CloudAPIClient::exchangeNativeAuthToken(
    QUrl baseURL, QUuid attemptID, QString code, QString codeVerifier, QString redirectURI) const
{
    const WireDecoder decoder = m_options.decoder;
    const QByteArray body = NativeAuthTokenRequest(attemptID, code, codeVerifier, redirectURI).encoded();
    Request request { "POST", appendingPath(baseURL, QStringLiteral("/client/v1/native-auth/token")), std::nullopt,
        body };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<NativeAuthTokenResponse>(answer, decoder);
}

QCoro::Task<> CloudAPIClient::cancelNativeAuth(QUrl baseURL, QUuid attemptID) const
{
    // Any 2xx is success; the body is not read.
    Request request { "POST",
        appendingPath(
            baseURL, QStringLiteral("/client/v1/native-auth/") + lowerID(attemptID) + QStringLiteral("/cancel")) };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    co_await std::move(exchange);
}

QCoro::Task<ClientMeResponse> CloudAPIClient::fetchMe(QUrl baseURL, QString apiKey) const
{
    const WireDecoder decoder = m_options.decoder;
    Request request { "GET", appendingPath(baseURL, QStringLiteral("/client/v1/me")), apiKey };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<ClientMeResponse>(answer, decoder);
}

QCoro::Task<ClientConfigResponse> CloudAPIClient::fetchClientConfig(QUrl baseURL, QString apiKey) const
{
    const WireDecoder decoder = m_options.decoder;
    Request request { "GET", appendingPath(baseURL, QStringLiteral("/client/v1/config")), apiKey };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<ClientConfigResponse>(answer, decoder);
}

QCoro::Task<DictationSessionRecoveryResponse> CloudAPIClient::fetchDictationRecovery(
    QUrl baseURL, QString apiKey, QUuid sessionID) const
{
    const WireDecoder decoder = m_options.decoder;
    const QString path
        = QStringLiteral("/client/v1/dictation-sessions/") + lowerID(sessionID) + QStringLiteral("/recovery");
    Request request { "GET", appendingPath(baseURL, path), apiKey };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<DictationSessionRecoveryResponse>(answer, decoder);
}

QCoro::Task<ClientUpdateResponse> CloudAPIClient::fetchMacOSUpdate(QUrl baseURL, QString currentVersion) const
{
    const WireDecoder decoder = m_options.decoder;
    QUrl url = appendingPath(baseURL, QStringLiteral("client/v1/update/macos"));
    if (!url.isValid() || url.scheme().isEmpty())
        throw CloudClientError::invalidBaseURL();
    // Exactly one query item; any query of the base URL is replaced.
    url.setQuery(QStringLiteral("currentVersion=") + QString::fromLatin1(QUrl::toPercentEncoding(currentVersion)),
        QUrl::StrictMode);
    if (!url.isValid())
        throw CloudClientError::invalidBaseURL();
    Request request { "GET", url };
    QCoro::Task<QByteArray> exchange = performChecked(std::move(request));
    const QByteArray answer = co_await std::move(exchange);
    co_return decodeBody<ClientUpdateResponse>(answer, decoder);
}

QCoro::Task<QString> CloudAPIClient::fetchHealth(QUrl baseURL) const
{
    Request request { "GET", appendingPath(baseURL, QStringLiteral("health")) };
    request.jsonContentType = false;
    request.timeout = m_options.healthTimeout;
    QCoro::Task<Reply> exchange = perform(std::move(request));
    const Reply reply = co_await std::move(exchange);
    if (!reply.statusCode)
        throw CloudClientError::invalidResponse(kHealthNoHTTPResponse);
    const int status = *reply.statusCode;
    // The failure text comes from the network like any other: bounded and redacted.
    if (status < 200 || status > 299)
        throw CloudClientError::requestFailed(status, sanitizedErrorBody(reply.body));
    co_return decodedUTF8(reply.body).value_or(QString()).trimmed();
}

} // namespace tessvale
