#include <gtest/gtest.h>

#include <memory>

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "cloud/CloudAPIClient.h"
#include "cloud/LoopbackTrust.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"

namespace tessvale {
namespace {

// The fake service's sign-in page over plain HTTP on loopback, opened by scripts/stand-in-browser with
// an xdg-open that records the address it is handed instead of opening it.
class StandInBrowserTest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        FakeCloudFixture::SetUp();
        options.sslConfiguration = clientSsl();
        options.decoder = WireDecoder(trustedDomain);
    }

    CloudAPIClient client() { return CloudAPIClient(&network, options); }

    NativeAuthStartResponse start()
    {
        return runTask(client().startNativeAuth(server().restOrigin(), QStringLiteral("Test Device"),
            QStringLiteral("1.0.0"), challenge, QStringLiteral("tessvale://auth/callback"), QStringLiteral("state-1")));
    }

    // Status and body of a plain GET, as a browser's reload or the page's own status request.
    std::pair<int, QByteArray> get(const QUrl& url)
    {
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
        EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); }));
        return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
    }

    // The exit code, and what the stand-in handed to xdg-open.
    std::pair<int, QString> browse(const QUrl& url)
    {
        QTemporaryDir bin;
        QFile opener(bin.filePath(QStringLiteral("xdg-open")));
        opener.open(QIODevice::WriteOnly);
        opener.write("#!/bin/sh\nprintf '%s' \"$1\" >\"$(dirname \"$0\")/opened\"\n");
        opener.close();
        opener.setPermissions(opener.permissions() | QFileDevice::ExeOwner);

        QProcess browser;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), bin.path() + ':' + environment.value(QStringLiteral("PATH")));
        // A plain-HTTP page needs no CA.
        environment.remove(QString::fromLatin1(loopbackCAFileVariable));
        browser.setProcessEnvironment(environment);
        browser.start(qEnvironmentVariable("TESSVALE_SOURCE_DIR") + QStringLiteral("/scripts/stand-in-browser"),
            { url.toString() });
        // The fake answers on this thread's event loop, so the wait must keep it turning.
        EXPECT_TRUE(waitUntil([&] { return browser.state() == QProcess::NotRunning; }, std::chrono::seconds(60)));
        QFile opened(bin.filePath(QStringLiteral("opened")));
        const QString address = opened.open(QIODevice::ReadOnly) ? QString::fromUtf8(opened.readAll()) : QString();
        return { browser.exitCode(), address };
    }

    static inline const QString verifier = QStringLiteral("verifier-of-the-stand-in-test-0123456789abcdefghij");
    const QString challenge
        = QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                  .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    QNetworkAccessManager network;
    CloudAPIClient::Options options;
};

// The page is plain HTTP on loopback, sends the browser on to the tessvale: callback, and says that
// the sign-in worked only once the code is exchanged: while it waits, on its status and on a reload.
TEST_F(StandInBrowserTest, PlainHttpSignInPageOpensTheCallbackAndThenSaysItWorked)
{
    if (qEnvironmentVariableIsEmpty("TESSVALE_SOURCE_DIR"))
        GTEST_SKIP() << "TESSVALE_SOURCE_DIR (set by CTest) names no source folder";
    const NativeAuthStartResponse attempt = start();
    EXPECT_EQ(attempt.authorizationURL.scheme(), QStringLiteral("http"));
    EXPECT_EQ(attempt.authorizationURL.host(), QStringLiteral("localhost"));

    const auto [status, opened] = browse(attempt.authorizationURL);
    EXPECT_EQ(status, 0);
    const QUrl callback(opened);
    EXPECT_EQ(callback.scheme(), QStringLiteral("tessvale"));
    EXPECT_EQ(QUrlQuery(callback).queryItemValue(QStringLiteral("state")), QStringLiteral("state-1"));
    const QString code = QUrlQuery(callback).queryItemValue(QStringLiteral("code"));
    EXPECT_FALSE(code.isEmpty()) << qPrintable(opened);
    const FakeHttpRequest page = server().lastRequest();
    EXPECT_EQ(page.path, QStringLiteral("/authorize"));
    EXPECT_FALSE(page.encrypted);

    QUrl statusURL = server().signInPageOrigin().resolved(QUrl(QStringLiteral("/authorize/status")));
    statusURL.setQuery(QStringLiteral("attemptId=") + attempt.attemptID.toString(QUuid::WithoutBraces));
    EXPECT_EQ(get(statusURL), std::make_pair(200, QByteArray(R"({"Status":"Approved"})")));
    runTask(client().exchangeNativeAuthToken(
        server().restOrigin(), attempt.attemptID, code, verifier, QStringLiteral("tessvale://auth/callback")));
    EXPECT_EQ(get(statusURL), std::make_pair(200, QByteArray(R"({"Status":"SignedIn"})")));
    const auto [reloaded, body] = get(attempt.authorizationURL);
    EXPECT_EQ(reloaded, 200);
    EXPECT_TRUE(QString::fromUtf8(body).contains(QStringLiteral("Signed in \u2014 you can return to Tessvale")))
        << body.constData();

    // The REST endpoints stay on TLS: the plain listener serves the page only.
    EXPECT_EQ(get(server().signInPageOrigin().resolved(QUrl(QStringLiteral("/health")))).first, 404);
}

} // namespace
} // namespace tessvale
