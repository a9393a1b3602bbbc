#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUuid>

#include "FakeCloudStreamService.h"
#include "FakeHttpExchange.h"

namespace tessvale {

class FakeHttpConnection;
class FakeTlsServer;
class TestCertificateAuthority;

// A loopback fake of the cloud service over TLS: every REST endpoint under "/client/v1/" plus
// "/health", and the streaming endpoint. Each endpoint answers like the service by default; a test
// replaces any answer with setResponse() and reads back what was received with requests().
// Browser sign-in keeps its attempts as the service does. Its page is served over plain HTTP on
// loopback, so a browser opens it without a certificate warning: "/authorize" approves one and sends
// the browser to its redirect URI with a code and its state (FakeSignInPage), and the token exchange
// refuses (400) a code, verifier or redirect URI that does not belong to the attempt.
class FakeCloudServer : public QObject
{
    Q_OBJECT

public:
    explicit FakeCloudServer(const TestCertificateAuthority& authority, QObject* parent = nullptr);
    ~FakeCloudServer() override;

    // Listens on 127.0.0.1 with system-chosen ports (REST, streaming and the sign-in page).
    bool listen(QString* error = nullptr);
    // The same on the given ports; 0 lets the system choose.
    bool listen(quint16 restPort, quint16 streamPort, QString* error = nullptr, quint16 signInPagePort = 0);

    quint16 restPort() const;
    // https://localhost:<port>
    QUrl restOrigin() const;
    quint16 signInPagePort() const;
    // http://localhost:<port>, where only the sign-in page and its status are served.
    QUrl signInPageOrigin() const;
    FakeCloudStreamService& stream() { return m_stream; }
    const FakeCloudStreamService& stream() const { return m_stream; }

    // Replaces the answer for one method and path (path without query, e.g. "/client/v1/me").
    // The answer sticks until it is replaced or cleared.
    void setResponse(const QByteArray& method, const QString& path, const FakeHttpResponse& response);
    void clearResponses();

    // The key that the account, configuration and recovery endpoints accept; any other gets 401.
    void setAcceptedApiKey(const QString& apiKey) { m_acceptedApiKey = apiKey; }
    QString acceptedApiKey() const { return m_acceptedApiKey; }

    // The account the default answers describe.
    QString accountEmail() const { return m_accountEmail; }
    QUuid deviceID() const { return m_deviceID; }
    // The latest browser sign-in attempt; before any start, the identifier the first one gets.
    QUuid attemptID() const { return m_attemptID; }

    // The user approves the attempt on the sign-in page: a fresh single-use code replaces any earlier
    // one. Empty when the attempt is unknown, cancelled or already exchanged. "/authorize" does this
    // before redirecting to the attempt's redirect URI.
    QString approveSignIn(const QUuid& attemptID);

    // The next request for one method and path is received but not answered until releaseHeld(), which
    // answers it as the service answers at that moment (a test may change the answer meanwhile).
    void holdNext(const QByteArray& method, const QString& path);
    void releaseHeld();
    int heldCount() const { return static_cast<int>(m_held.size()); }

    QList<FakeHttpRequest> requests() const { return m_requests; }
    FakeHttpRequest lastRequest() const { return m_requests.value(m_requests.size() - 1); }
    void clearRequests() { m_requests.clear(); }
    // Ends every open REST connection at once (hanging ones included).
    void dropOpenConnections();

    // The default answer bodies, also used by other fakes and tests.
    QByteArray meBody() const;
    QByteArray configBody() const;

signals:
    void requestReceived();

private:
    void acceptPending();
    void acceptPagePending();
    void serve(QTcpSocket* socket, bool page);
    FakeHttpResponse answer(const FakeHttpRequest& request, const QPointer<FakeHttpConnection>& connection);
    FakeHttpResponse pageAnswer(const FakeHttpRequest& request);
    FakeHttpResponse currentAnswer(const FakeHttpRequest& request);
    FakeHttpResponse defaultAnswer(const FakeHttpRequest& request) const;
    bool hasAcceptedKey(const FakeHttpRequest& request) const;
    // The browser sign-in endpoints keep attempts, so they answer here rather than in defaultAnswer.
    std::optional<FakeHttpResponse> signInAnswer(const FakeHttpRequest& request);
    FakeHttpResponse startSignIn(const FakeHttpRequest& request);
    FakeHttpResponse authorizationPage(const FakeHttpRequest& request);
    FakeHttpResponse attemptStatus(const FakeHttpRequest& request) const;
    FakeHttpResponse exchangeToken(const FakeHttpRequest& request);

    // One browser sign-in attempt as the service keeps it.
    struct SignInAttempt
    {
        QString codeChallenge;
        QString redirectURI;
        QString state;
        // Issued by approval; empty before.
        QString code;
        bool exchanged = false;
    };

    const TestCertificateAuthority& m_authority;
    std::unique_ptr<FakeTlsServer> m_restServer;
    std::unique_ptr<QTcpServer> m_pageServer;
    FakeCloudStreamService m_stream;
    QHash<QString, FakeHttpResponse> m_responses;
    QList<FakeHttpRequest> m_requests;
    QList<QPointer<FakeHttpConnection>> m_connections;
    QStringList m_holds;
    QList<QPair<QPointer<FakeHttpConnection>, FakeHttpRequest>> m_held;
    QString m_acceptedApiKey = QStringLiteral("tv_test_fakecloudkey");
    QString m_accountEmail = QStringLiteral("dictation@example.com");
    QUuid m_deviceID = QUuid(QStringLiteral("{6f1c2a9e-3b4d-4e5f-8a6b-7c8d9e0f1a2b}"));
    // The name the last sign-in gave this device, as the service records it.
    QString m_deviceName = QStringLiteral("Test Device");
    QUuid m_attemptID = QUuid(QStringLiteral("{0b7e4c1d-2a3f-4b5c-9d6e-1f2a3b4c5d6e}"));
    QHash<QUuid, SignInAttempt> m_signInAttempts;
    int m_attemptsOpened = 0;
};

} // namespace tessvale
