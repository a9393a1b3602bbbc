#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUuid>

#include "auth/KeychainError.h"
#include "cloud/CloudAPIClient.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "support/Skips.h"
#include "support/async/TaskRunner.h"
#include "support/auth/KeyringDesktop.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;
using namespace std::chrono_literals;

// The coordinator against the fake service over TLS and the desktop's real Secret Service: the key a
// browser sign-in stores is the one the next launch restores.
namespace {

class BrowserSignInRoundTrip : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "no D-Bus session with a Secret Service (run through scripts/test-env)";
        FakeCloudFixture::SetUp();
        const QByteArray origin = server().restOrigin().toString().toUtf8();
        qputenv("TESSVALE_REST_ORIGIN", origin);
        qputenv("TESSVALE_WEB_ORIGIN", origin);
        qputenv("TESSVALE_SERVICE_DOMAIN", trustedDomain.toUtf8());
        CloudAPIClient::Options options;
        options.sslConfiguration = clientSsl();
        options.decoder = WireDecoder(trustedDomain);
        m_client = std::make_unique<CloudAPIClient>(&m_network, options);
    }

    void TearDown() override
    {
        if (m_client)
            (void)runTask(keychain()->deleteItem(DictationCoordinator::apiKeyAccount));
        for (const char* name : { "TESSVALE_REST_ORIGIN", "TESSVALE_WEB_ORIGIN", "TESSVALE_SERVICE_DOMAIN" })
            qunsetenv(name);
        FakeCloudFixture::TearDown();
    }

    std::shared_ptr<KeychainStore> keychain() const
    {
        return std::make_shared<KeychainStore>(m_service, std::make_shared<LibsecretSecretStore>());
    }

    // A harness whose coordinator talks to the fake service and keeps its key in the real keyring.
    std::unique_ptr<CoordinatorHarness> makeHarness()
    {
        auto harness = std::make_unique<CoordinatorHarness>();
        harness->services().keychain = keychain();
        harness->services().cloud = CoordinatorCloud::over(*m_client);
        return harness;
    }

    // What a browser does with the sign-in page: fetch it, and hand the address its refresh sends the
    // browser on to back to the application, as the desktop would hand it a URL of its scheme.
    void followLikeABrowser(const QUrl& page, DictationCoordinator& coordinator)
    {
        QNetworkRequest request(page);
        request.setSslConfiguration(clientSsl());
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = m_network.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, &coordinator] {
            m_pageStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QByteArray refresh = reply->rawHeader("Refresh");
            const QByteArray prefix = "0; url=";
            coordinator.handleExternalAuthCallback(
                refresh.startsWith(prefix) ? QUrl::fromEncoded(refresh.mid(prefix.size())) : QUrl());
            reply->deleteLater();
        });
    }

    QNetworkAccessManager m_network;
    std::unique_ptr<CloudAPIClient> m_client;
    QString m_service = QStringLiteral("com.tessvale.tests.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    int m_pageStatus = 0;
};

} // namespace

TEST_F(BrowserSignInRoundTrip, TheStoredKeySignsTheNextLaunchIn)
{
    auto first = makeHarness();
    DictationCoordinator& signingIn = first->coordinator();
    first->onOpenURL = [&](const QUrl& url) { followLikeABrowser(url, signingIn); };
    signingIn.beginSignIn();
    ASSERT_TRUE(waitUntil([&] { return signingIn.isAuthenticated() || !signingIn.lastError().isEmpty(); }, 60s));
    EXPECT_EQ(m_pageStatus, 200);
    EXPECT_EQ(signingIn.lastError(), QString());
    EXPECT_EQ(signingIn.phase(), DictationPhase::ready);
    EXPECT_EQ(signingIn.me()->user.email, server().accountEmail());
    EXPECT_FALSE(signingIn.browserSignIn());

    // In the keyring, as libsecret reads it.
    EXPECT_EQ(runTask(LibsecretSecretStore().copyMatching(
                          SecretItemQuery { m_service, DictationCoordinator::apiKeyAccount }, {}))
                  .data,
        server().acceptedApiKey().toUtf8());

    auto second = makeHarness();
    DictationCoordinator& relaunched = second->coordinator();
    relaunched.bootstrap();
    ASSERT_TRUE(waitUntil([&] { return relaunched.didFinishSessionBootstrap(); }, 60s));
    EXPECT_TRUE(relaunched.isAuthenticated());
    EXPECT_EQ(relaunched.phase(), DictationPhase::ready);
    EXPECT_EQ(relaunched.me()->user.email, server().accountEmail());
    EXPECT_TRUE(second->logged(QStringLiteral("Recovered authenticated session from the keyring.")));
}

TEST_F(BrowserSignInRoundTrip, ALockedKeyringShowsItsErrorInsteadOfSigningOutSilently)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "no display for the unlock prompt";
    using namespace tessvale::testing;
    ASSERT_NO_THROW(runTask(keychain()->save(server().acceptedApiKey(), DictationCoordinator::apiKeyAccount)));
    const QString collection = defaultCollection();
    lockCollection(collection);
    ASSERT_TRUE(isCollectionLocked(collection));

    auto harness = makeHarness();
    DictationCoordinator& coordinator = harness->coordinator();
    coordinator.bootstrap();
    dismissPrompt();
    ASSERT_TRUE(waitUntil([&] { return coordinator.didFinishSessionBootstrap(); }, 60s));
    EXPECT_EQ(coordinator.phase(), DictationPhase::signedOut);
    EXPECT_EQ(coordinator.lastError(),
        KeychainError::unexpectedStatus(SecretStatusCode::userCanceled).localizedDescription());
    // The user's own dismissal: shown, not reported.
    EXPECT_TRUE(harness->reports.isEmpty());

    // Still there for the next launch, once the keyring is unlocked.
    QCoro::Task<std::optional<QString>> read = keychain()->read(DictationCoordinator::apiKeyAccount);
    unlockAtPrompt();
    EXPECT_EQ(runTask(std::move(read)), server().acceptedApiKey());
    EXPECT_FALSE(isCollectionLocked(collection));
}
