#include <gtest/gtest.h>

#include "cloud/CloudClientError.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

namespace {

const CloudClientError kNotFound = CloudClientError::requestFailed(404, QStringLiteral("Nope"));
const CloudClientError kDown = CloudClientError::requestFailed(500, QStringLiteral("Down"));

} // namespace

TEST(CoordinatorChecks, OnlyTheLatestUpdateCheckPublishes)
{
    CoordinatorHarness h;
    DictationCoordinator& c = h.coordinator();
    OneShot<> first, second;
    h.updateAnswer = { CoordinatorHarness::sampleUpdate(true), nullptr, first };
    c.checkForUpdates();
    h.settle();
    h.updateAnswer = { CoordinatorHarness::sampleUpdate(false), nullptr, second };
    c.checkForUpdates();
    h.settle();
    EXPECT_EQ(c.appUpdateState(), AppUpdateState::checking());

    second.resolve();
    first.resolve();
    h.settle();
    EXPECT_EQ(c.appUpdateState(), AppUpdateState::upToDate(CoordinatorHarness::sampleUpdate(false)));
    EXPECT_EQ(h.activityMessages().count(QStringLiteral("Ignored stale app update check result.")), 1);
}

TEST(CoordinatorChecks, UpdateOutcomesAndWhatOpensTheDownload)
{
    const ClientUpdateResponse offer = CoordinatorHarness::sampleUpdate(true, QStringLiteral("2.1.0"));
    struct Case
    {
        CloudAnswer<ClientUpdateResponse> answer;
        AppUpdateState expected;
        int reports;
        QString line;
    };
    const QList<Case> cases = {
        { { offer, nullptr, {} }, AppUpdateState::available(offer), 0,
            QStringLiteral("Opened the update download for 2.1.0.") },
        { { std::nullopt, std::make_exception_ptr(kNotFound), {} }, AppUpdateState::unavailable(), 0,
            QStringLiteral("Update metadata is unavailable for the current cloud environment.") },
        { { std::nullopt, std::make_exception_ptr(kDown), {} }, AppUpdateState::failed(kDown.localizedDescription()), 1,
            QStringLiteral("Update check failed: ") + kDown.localizedDescription() },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.line.toStdString());
        CoordinatorHarness h;
        h.updateAnswer = test.answer;
        DictationCoordinator& c = h.coordinator();
        c.checkForUpdates();
        h.settle();
        c.openAvailableUpdate();
        EXPECT_EQ(c.appUpdateState(), test.expected);
        EXPECT_EQ(h.activityMessages().first(), test.line);
        EXPECT_EQ(h.openedURLs.size(), test.answer.value ? 1 : 0);
        ASSERT_EQ(h.reports.size(), test.reports);
        if (test.reports) {
            EXPECT_EQ(h.reports[0].context, QStringLiteral("Checking for a macOS app update"));
        }
    }
}

TEST(CoordinatorChecks, HealthCheckShowsABoundedBodyOrTheFailure)
{
    const QString key = QStringLiteral("tv_live_") + QString(30, QLatin1Char('k'));
    const QString failed = QStringLiteral("Health check failed");
    struct Case
    {
        CloudAnswer<QString> answer;
        QString shown;
        QString error;
    };
    const QList<Case> cases = {
        { { QStringLiteral("fine"), nullptr, {} }, QStringLiteral("Health check: fine"), {} },
        { { QString(), nullptr, {} }, QStringLiteral("Health check: ok"), {} },
        { { std::nullopt, std::make_exception_ptr(kDown), {} }, failed, kDown.localizedDescription() },
        { { key + QLatin1Char(' ') + QString(2000, QLatin1Char('x')), nullptr, {} }, QString(), {} },
    };
    for (const Case& test : cases) {
        CoordinatorHarness h;
        h.healthAnswer = test.answer;
        DictationCoordinator& c = h.coordinator();
        c.runConnectivityCheck();
        h.settle();
        EXPECT_EQ(c.lastError(), test.error);
        EXPECT_EQ(c.phase(), DictationPhase::signedOut);
        EXPECT_TRUE(h.reports.isEmpty());
        const QString logged = h.activityMessages().first();
        if (!test.error.isEmpty()) {
            EXPECT_EQ(c.lastHealthCheck(), failed);
            EXPECT_EQ(logged, QStringLiteral("Health check failed: ") + test.error);
        } else if (!test.shown.isEmpty()) {
            EXPECT_EQ(c.lastHealthCheck(), test.shown);
            EXPECT_EQ(logged, test.shown);
        } else {
            // An over-long body: cut and with the key redacted, in the field, the log and the breadcrumbs.
            EXPECT_TRUE(c.lastHealthCheck().startsWith(QStringLiteral("Health check: tv_live_<redacted> x")));
            EXPECT_TRUE(c.lastHealthCheck().endsWith(QStringLiteral("...")));
            EXPECT_LE(c.lastHealthCheck().size(), 14 + 512 + 3);
            EXPECT_FALSE((h.activityMessages() + h.breadcrumbs).join(QLatin1Char('\n')).contains(key));
        }
    }
}

TEST(CoordinatorChecks, OnlyHttpsWithAHostHttpOnThisComputerAndMailtoAreOpenable)
{
    for (const auto& [url, openable] : QList<std::pair<const char*, bool>> { { "https://downloads.localhost/a", true },
             { "mailto:support@example.com", true }, { "http://downloads.localhost/a", false },
             { "http://localhost:27445/authorize", true }, { "http://127.0.0.1/a", true }, { "http://[::1]/a", true },
             { "http://localhost.example/a", false }, { "file:///etc/passwd", false }, { "javascript:alert(1)", false },
             { "tessvale://native-auth/callback", false }, { "https:///no-host", false } })
        EXPECT_EQ(isOpenableExternalURL(QUrl(QString::fromLatin1(url))), openable) << url;
}
