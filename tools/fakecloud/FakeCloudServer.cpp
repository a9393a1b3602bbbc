#include "FakeCloudServer.h"

#include <memory>
#include <utility>

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslSocket>

#include "FakeHttpConnection.h"
#include "FakeSignInPage.h"
#include "FakeTlsServer.h"
#include "TestCertificateAuthority.h"

namespace tessvale {

namespace {

const QString kClient = QStringLiteral("/client/v1");

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString lowerID(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toLower();
}

QJsonObject unauthorized()
{
    return QJsonObject { { QStringLiteral("error"), QStringLiteral("Invalid API key") } };
}

// A refused grant is the client's fault: a 400 with the service's error body, so it is not reported.
FakeHttpResponse refusal(const QString& message)
{
    return FakeHttpResponse::json(400, compact(QJsonObject { { QStringLiteral("error"), message } }));
}

// Unpadded base64url of SHA-256, computed here rather than by the client's code it checks.
QString s256(const QString& verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

FakeCloudServer::FakeCloudServer(const TestCertificateAuthority& authority, QObject* parent)
    : QObject(parent)
    , m_authority(authority)
{
}

FakeCloudServer::~FakeCloudServer()
{
    dropOpenConnections();
}

bool FakeCloudServer::listen(QString* error)
{
    return listen(0, 0, error);
}

bool FakeCloudServer::listen(quint16 restPort, quint16 streamPort, QString* error, quint16 signInPagePort)
{
    m_restServer = std::make_unique<FakeTlsServer>(m_authority.serverConfiguration());
    connect(m_restServer.get(), &QTcpServer::newConnection, this, &FakeCloudServer::acceptPending);
    if (!m_restServer->listen(QHostAddress::LocalHost, restPort)) {
        if (error)
            *error = m_restServer->errorString();
        return false;
    }
    m_pageServer = std::make_unique<QTcpServer>();
    connect(m_pageServer.get(), &QTcpServer::newConnection, this, &FakeCloudServer::acceptPagePending);
    if (!m_pageServer->listen(QHostAddress::LocalHost, signInPagePort)) {
        if (error)
            *error = m_pageServer->errorString();
        return false;
    }
    return m_stream.listen(m_authority.serverConfiguration(), error, streamPort);
}

quint16 FakeCloudServer::restPort() const
{
    return m_restServer ? m_restServer->serverPort() : 0;
}

QUrl FakeCloudServer::restOrigin() const
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("localhost"));
    url.setPort(restPort());
    return url;
}

quint16 FakeCloudServer::signInPagePort() const
{
    return m_pageServer ? m_pageServer->serverPort() : 0;
}

QUrl FakeCloudServer::signInPageOrigin() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("localhost"));
    url.setPort(signInPagePort());
    return url;
}

void FakeCloudServer::setResponse(const QByteArray& method, const QString& path, const FakeHttpResponse& response)
{
    m_responses.insert(QString::fromLatin1(method) + QLatin1Char(' ') + path, response);
}

void FakeCloudServer::clearResponses()
{
    m_responses.clear();
}

void FakeCloudServer::dropOpenConnections()
{
    const auto connections = m_connections;
    m_connections.clear();
    for (const auto& connection : connections) {
        if (connection)
            connection->abort();
    }
}

void FakeCloudServer::acceptPending()
{
    while (QTcpSocket* pending = m_restServer->nextPendingConnection()) {
        if (!qobject_cast<QSslSocket*>(pending)) {
            pending->abort();
            pending->deleteLater();
            continue;
        }
        serve(pending, false);
    }
}

void FakeCloudServer::acceptPagePending()
{
    while (QTcpSocket* pending = m_pageServer->nextPendingConnection())
        serve(pending, true);
}

void FakeCloudServer::serve(QTcpSocket* socket, bool page)
{
    // The responder learns its connection once it exists; it is not called before the first read.
    auto self = std::make_shared<QPointer<FakeHttpConnection>>();
    auto* connection = new FakeHttpConnection(
        socket,
        [this, self, page](
            const FakeHttpRequest& request) { return page ? pageAnswer(request) : answer(request, *self); },
        this);
    *self = connection;
    m_connections.append(connection);
    connect(
        connection, &FakeHttpConnection::finished, this, [this, connection] { m_connections.removeAll(connection); });
}

void FakeCloudServer::holdNext(const QByteArray& method, const QString& path)
{
    m_holds.append(QString::fromLatin1(method) + QLatin1Char(' ') + path);
}

void FakeCloudServer::releaseHeld()
{
    for (const auto& [connection, request] : std::exchange(m_held, {})) {
        if (connection)
            connection->answerLate(currentAnswer(request));
    }
}

FakeHttpResponse FakeCloudServer::answer(const FakeHttpRequest& request, const QPointer<FakeHttpConnection>& connection)
{
    m_requests.append(request);
    emit requestReceived();
    if (m_holds.removeOne(QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path)) {
        m_held.append({ connection, request });
        return FakeHttpResponse::hang();
    }
    return currentAnswer(request);
}

// The plain-HTTP listener serves the sign-in page and its status only, never the REST endpoints.
FakeHttpResponse FakeCloudServer::pageAnswer(const FakeHttpRequest& request)
{
    m_requests.append(request);
    emit requestReceived();
    if (request.method == "GET" && request.path == QStringLiteral("/authorize"))
        return authorizationPage(request);
    if (request.method == "GET" && request.path == QStringLiteral("/authorize/status"))
        return attemptStatus(request);
    return FakeHttpResponse::text(404, "Not found");
}

FakeHttpResponse FakeCloudServer::currentAnswer(const FakeHttpRequest& request)
{
    const auto scripted = m_responses.constFind(QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path);
    if (scripted != m_responses.constEnd())
        return *scripted;
    if (std::optional<FakeHttpResponse> signIn = signInAnswer(request))
        return *signIn;
    return defaultAnswer(request);
}

QString FakeCloudServer::approveSignIn(const QUuid& attemptID)
{
    const auto attempt = m_signInAttempts.find(attemptID);
    if (attempt == m_signInAttempts.end() || attempt->exchanged)
        return {};
    attempt->code = QUuid::createUuid().toString(QUuid::Id128);
    return attempt->code;
}

std::optional<FakeHttpResponse> FakeCloudServer::signInAnswer(const FakeHttpRequest& request)
{
    static const QRegularExpression nativeAuthCancel(
        QStringLiteral("^/client/v1/native-auth/([0-9a-fA-F-]{36})/cancel$"));
    if (request.method == "POST" && request.path == kClient + QStringLiteral("/native-auth/start"))
        return startSignIn(request);
    if (request.method == "POST" && request.path == kClient + QStringLiteral("/native-auth/token"))
        return exchangeToken(request);
    if (const auto match = nativeAuthCancel.match(request.path); request.method == "POST" && match.hasMatch()) {
        // Cancelling is idempotent: an unknown attempt is no error.
        m_signInAttempts.remove(QUuid(match.captured(1)));
        return FakeHttpResponse::json(204, {});
    }
    return std::nullopt;
}

FakeHttpResponse FakeCloudServer::startSignIn(const FakeHttpRequest& request)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    SignInAttempt attempt;
    attempt.codeChallenge = body.value(QStringLiteral("CodeChallenge")).toString();
    attempt.redirectURI = body.value(QStringLiteral("RedirectUri")).toString();
    attempt.state = body.value(QStringLiteral("State")).toString();
    if (const QString name = body.value(QStringLiteral("DeviceName")).toString().trimmed(); !name.isEmpty())
        m_deviceName = name;
    // The first attempt keeps the well-known identifier; each later one is new, as the service's are.
    if (m_attemptsOpened++ > 0)
        m_attemptID = QUuid::createUuid();
    m_signInAttempts.insert(m_attemptID, attempt);

    QUrl authorization = signInPageOrigin().resolved(QUrl(QStringLiteral("/authorize")));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("attemptId"), lowerID(m_attemptID));
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(QUrl::toPercentEncoding(attempt.state)));
    authorization.setQuery(query);
    return FakeHttpResponse::json(200,
        compact(QJsonObject { { QStringLiteral("AttemptId"), lowerID(m_attemptID) },
            { QStringLiteral("AuthorizationUrl"), authorization.toString() },
            { QStringLiteral("ExpiresAt"), QStringLiteral("2030-01-01T00:10:00Z") } }));
}

// The sign-in page of a user who is already signed in on the web: it approves at once and sends the
// browser back with the code and the attempt's own state. A reload after the exchange says so.
FakeHttpResponse FakeCloudServer::authorizationPage(const FakeHttpRequest& request)
{
    const QUuid attemptID(request.query.queryItemValue(QStringLiteral("attemptId"), QUrl::FullyDecoded));
    if (const auto known = m_signInAttempts.constFind(attemptID);
        known != m_signInAttempts.constEnd() && known->exchanged)
        return FakeSignInPage::signedIn(attemptID);
    const QString code = approveSignIn(attemptID);
    if (code.isEmpty())
        return FakeHttpResponse::text(404, "This sign-in link is no longer valid.");
    const SignInAttempt& attempt = m_signInAttempts[attemptID];
    QUrl callback(attempt.redirectURI);
    QUrlQuery query(callback);
    query.addQueryItem(QStringLiteral("code"), code);
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(QUrl::toPercentEncoding(attempt.state)));
    callback.setQuery(query);
    return FakeSignInPage::approved(callback, attemptID);
}

FakeHttpResponse FakeCloudServer::attemptStatus(const FakeHttpRequest& request) const
{
    const QUuid attemptID(request.query.queryItemValue(QStringLiteral("attemptId"), QUrl::FullyDecoded));
    const auto attempt = m_signInAttempts.constFind(attemptID);
    if (attempt == m_signInAttempts.constEnd())
        return FakeSignInPage::status(FakeSignInPage::State::closed);
    return FakeSignInPage::status(
        attempt->exchanged ? FakeSignInPage::State::signedIn : FakeSignInPage::State::approved);
}

FakeHttpResponse FakeCloudServer::exchangeToken(const FakeHttpRequest& request)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QUuid attemptID(body.value(QStringLiteral("AttemptId")).toString());
    const QString code = body.value(QStringLiteral("Code")).toString();
    const auto attempt = m_signInAttempts.find(attemptID);
    if (attemptID.isNull() || attempt == m_signInAttempts.end())
        return refusal(QStringLiteral("Unknown sign-in attempt"));
    if (attempt->exchanged)
        return refusal(QStringLiteral("Authorization code was already used"));
    if (attempt->code.isEmpty() || code != attempt->code)
        return refusal(QStringLiteral("Invalid authorization code"));
    if (body.value(QStringLiteral("RedirectUri")).toString() != attempt->redirectURI)
        return refusal(QStringLiteral("Redirect URI does not match the sign-in attempt"));
    if (s256(body.value(QStringLiteral("CodeVerifier")).toString()) != attempt->codeChallenge)
        return refusal(QStringLiteral("Code verifier does not match the code challenge"));
    attempt->exchanged = true;

    const QJsonObject me = QJsonDocument::fromJson(meBody()).object();
    const QJsonObject config = QJsonDocument::fromJson(configBody()).object();
    return FakeHttpResponse::json(200,
        compact(QJsonObject { { QStringLiteral("ApiKey"), m_acceptedApiKey }, { QStringLiteral("Me"), me },
            { QStringLiteral("Config"), config } }));
}

bool FakeCloudServer::hasAcceptedKey(const FakeHttpRequest& request) const
{
    return request.headerCount("x-tessvale-api-key") == 1
        && QString::fromUtf8(request.header("x-tessvale-api-key")) == m_acceptedApiKey;
}

QByteArray FakeCloudServer::meBody() const
{
    const QJsonObject user { { QStringLiteral("Id"), QStringLiteral("user-1") },
        { QStringLiteral("Email"), m_accountEmail } };
    const QJsonObject device { { QStringLiteral("Id"), lowerID(m_deviceID) }, { QStringLiteral("Name"), m_deviceName },
        { QStringLiteral("Platform"), QJsonObject { { QStringLiteral("Case"), QStringLiteral("MacOS") } } },
        { QStringLiteral("AppVersion"), QStringLiteral("1.0.0") },
        { QStringLiteral("CreatedAt"), QStringLiteral("2024-01-01T00:00:00Z") },
        { QStringLiteral("LastUsedAt"), QJsonValue::Null }, { QStringLiteral("RevokedAt"), QJsonValue::Null } };
    return compact(QJsonObject { { QStringLiteral("User"), user }, { QStringLiteral("Device"), device } });
}

QByteArray FakeCloudServer::configBody() const
{
    return compact(QJsonObject { { QStringLiteral("WebSocketUrl"), m_stream.url().toString() },
        { QStringLiteral("MaxChunkBytes"), 32000 }, { QStringLiteral("SampleRate"), 16000 },
        { QStringLiteral("WebSocketPingIntervalSeconds"), 15 } });
}

FakeHttpResponse FakeCloudServer::defaultAnswer(const FakeHttpRequest& request) const
{
    static const QRegularExpression deviceAuthPoll(QStringLiteral("^/client/v1/device-auth/([0-9a-fA-F-]{36})$"));
    static const QRegularExpression recovery(
        QStringLiteral("^/client/v1/dictation-sessions/([0-9a-fA-F-]{36})/recovery$"));

    const QByteArray& method = request.method;
    const QString& path = request.path;
    QUrl origin = restOrigin();

    if (method == "GET" && path == QStringLiteral("/health"))
        return FakeHttpResponse::text(200, "ok\n");

    if (method == "POST" && path == kClient + QStringLiteral("/device-auth/start")) {
        return FakeHttpResponse::json(200,
            compact(
                QJsonObject { { QStringLiteral("RequestId"), QStringLiteral("3d2c1b0a-9e8f-4a7b-8c6d-5e4f3a2b1c0d") },
                    { QStringLiteral("ExpiresAt"), QStringLiteral("2030-01-01T00:10:00Z") },
                    { QStringLiteral("PollAfterSeconds"), 5 },
                    { QStringLiteral("ApprovalUrl"), origin.resolved(QUrl(QStringLiteral("/approve"))).toString() } }));
    }
    if (const auto match = deviceAuthPoll.match(path); method == "GET" && match.hasMatch()) {
        return FakeHttpResponse::json(200,
            compact(QJsonObject { { QStringLiteral("RequestId"), match.captured(1) },
                { QStringLiteral("Status"), QJsonObject { { QStringLiteral("Case"), QStringLiteral("Pending") } } } }));
    }
    if (method == "GET" && path == kClient + QStringLiteral("/me"))
        return hasAcceptedKey(request) ? FakeHttpResponse::json(200, meBody())
                                       : FakeHttpResponse::json(401, compact(unauthorized()));
    if (method == "GET" && path == kClient + QStringLiteral("/config"))
        return hasAcceptedKey(request) ? FakeHttpResponse::json(200, configBody())
                                       : FakeHttpResponse::json(401, compact(unauthorized()));
    if (const auto match = recovery.match(path); method == "GET" && match.hasMatch()) {
        if (!hasAcceptedKey(request))
            return FakeHttpResponse::json(401, compact(unauthorized()));
        return FakeHttpResponse::json(200,
            compact(QJsonObject { { QStringLiteral("SessionId"), match.captured(1) },
                { QStringLiteral("Status"), QJsonObject { { QStringLiteral("Case"), QStringLiteral("Failed") } } },
                { QStringLiteral("ErrorCode"), QJsonValue::Null }, { QStringLiteral("ErrorDetail"), QJsonValue::Null },
                { QStringLiteral("RawText"), QJsonValue::Null }, { QStringLiteral("FinalText"), QJsonValue::Null },
                { QStringLiteral("CheckpointedAt"), QJsonValue::Null },
                { QStringLiteral("HasRecoverableText"), false } }));
    }
    if (method == "GET" && path == kClient + QStringLiteral("/update/macos")) {
        const QString current = request.query.queryItemValue(QStringLiteral("currentVersion"), QUrl::FullyDecoded);
        return FakeHttpResponse::json(200,
            compact(QJsonObject { { QStringLiteral("Platform"), QStringLiteral("MacOS") },
                { QStringLiteral("CurrentVersion"), current }, { QStringLiteral("LatestVersion"), current },
                { QStringLiteral("UpdateAvailable"), false },
                { QStringLiteral("DownloadUrl"),
                    origin.resolved(QUrl(QStringLiteral("/download/Tessvale.zip"))).toString() },
                { QStringLiteral("ReleaseNotes"), QJsonValue::Null } }));
    }
    return FakeHttpResponse::json(
        404, compact(QJsonObject { { QStringLiteral("error"), QStringLiteral("Not found") } }));
}

} // namespace tessvale
