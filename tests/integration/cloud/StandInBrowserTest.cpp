#include <gtest/gtest.h>

#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "cloud/CloudAPIClient.h"
#include "cloud/LoopbackTrust.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"

namespace tessvale {
namespace {

// scripts/stand-in-browser against the fake service's sign-in page, with an xdg-open that records
// the address it is handed instead of opening it.
class StandInBrowserTest : public FakeCloudFixture
{
protected:
    QUrl authorizationURL()
    {
        QNetworkAccessManager network;
        CloudAPIClient::Options options;
        options.sslConfiguration = clientSsl();
        options.decoder = WireDecoder(trustedDomain);
        const CloudAPIClient client(&network, options);
        return runTask(
            client.startNativeAuth(server().restOrigin(), QStringLiteral("Test Device"), QStringLiteral("1.0.0"),
                QStringLiteral("challenge"), QStringLiteral("tessvale://auth/callback"), QStringLiteral("state-1")))
            .authorizationURL;
    }

    // The exit code, and what the stand-in handed to xdg-open.
    std::pair<int, QString> browse(const QUrl& url, bool trustTheCA)
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
        environment.remove(QString::fromLatin1(loopbackCAFileVariable));
        if (trustTheCA)
            environment.insert(QString::fromLatin1(loopbackCAFileVariable), authority().caCertificatePath());
        browser.setProcessEnvironment(environment);
        browser.start(qEnvironmentVariable("TESSVALE_SOURCE_DIR") + QStringLiteral("/scripts/stand-in-browser"),
            { url.toString() });
        // The fake answers on this thread's event loop, so the wait must keep it turning.
        EXPECT_TRUE(waitUntil([&] { return browser.state() == QProcess::NotRunning; }, std::chrono::seconds(60)));
        QFile opened(bin.filePath(QStringLiteral("opened")));
        const QString address = opened.open(QIODevice::ReadOnly) ? QString::fromUtf8(opened.readAll()) : QString();
        return { browser.exitCode(), address };
    }
};

TEST_F(StandInBrowserTest, FollowsTheSignInRedirectToTheCallbackWithTheCAOnly)
{
    if (qEnvironmentVariableIsEmpty("TESSVALE_SOURCE_DIR"))
        GTEST_SKIP() << "TESSVALE_SOURCE_DIR (set by CTest) names no source folder";
    const QUrl authorization = authorizationURL();
    const auto [refused, none] = browse(authorization, false);
    EXPECT_NE(refused, 0);
    EXPECT_TRUE(none.isEmpty()) << qPrintable(none);

    const auto [status, opened] = browse(authorization, true);
    EXPECT_EQ(status, 0);
    const QUrl callback(opened);
    EXPECT_EQ(callback.scheme(), QStringLiteral("tessvale"));
    EXPECT_EQ(QUrlQuery(callback).queryItemValue(QStringLiteral("state")), QStringLiteral("state-1"));
    EXPECT_FALSE(QUrlQuery(callback).queryItemValue(QStringLiteral("code")).isEmpty()) << qPrintable(opened);
}

} // namespace
} // namespace tessvale
