#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>

#include "AppProcess.h"
#include "settings/AppSettings.h"
#include "support/Skips.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/focus/TextTargetProcess.h"

using namespace std::chrono_literals;
using namespace tessvale;
using tessvale::testing::AppProcess;

namespace {

const QString setupTitle = QStringLiteral("^Tessvale Setup$");

bool setupWindowShown()
{
    return !tessvale::testing::windowsNamed(setupTitle).isEmpty();
}

bool initialSetupPresented(const AppProcess& app)
{
    return QSettings(app.settingsFile(), QSettings::IniFormat)
        .value(QString(AppSettings::hasPresentedInitialSetupKey), false)
        .toBool();
}

// Presses the setup window's primary button, which has the focus when the window comes up.
void pressPrimaryButton(const QString& window)
{
    QProcess::execute(
        QStringLiteral("xdotool"), { QStringLiteral("windowactivate"), QStringLiteral("--sync"), window });
    QProcess::execute(QStringLiteral("xdotool"),
        { QStringLiteral("key"), QStringLiteral("--window"), window, QStringLiteral("space") });
}

} // namespace

// The real application on a fresh profile (empty keyring service, no settings) under the private
// desktop, against the fake service.
class AppSignInTest : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("BROWSER"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
        FakeCloudFixture::SetUp();
        profile = AppProcess::freshProfile();
    }

    std::unique_ptr<AppProcess> launch()
    {
        auto app = std::make_unique<AppProcess>(server(), authority(), profile);
        app->start();
        return app;
    }

    void quit(AppProcess& app)
    {
        app.signal(SIGTERM);
        EXPECT_TRUE(app.waitForCleanExit()) << app.output().constData();
    }

    // "METHOD path", marked " (key)" when the request carried the accepted key.
    QStringList requestLines()
    {
        QStringList lines;
        for (const FakeHttpRequest& request : server().requests()) {
            const bool withKey = request.header("x-tessvale-api-key") == server().acceptedApiKey().toUtf8();
            lines.append(QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path
                + (withKey ? QStringLiteral(" (key)") : QString()));
        }
        return lines;
    }

    QString profile;
};

// Signed out, a first launch brings up the setup window and stores that it did; the next launch
// leaves it closed, and so does a first launch that finds a stored key.
TEST_F(AppSignInTest, SetupWindowOpensOnlyOnAFirstSignedOutLaunch)
{
    auto app = launch();
    ASSERT_TRUE(app->waitForLog("No stored API key found.")) << app->output().constData();
    ASSERT_TRUE(waitUntil(setupWindowShown, 60s)) << app->output().constData();
    EXPECT_TRUE(waitUntil([&] { return initialSetupPresented(*app); }));
    quit(*app);
    ASSERT_TRUE(waitUntil([] { return !setupWindowShown(); }));

    app = launch();
    ASSERT_TRUE(app->waitForLog("No stored API key found.")) << app->output().constData();
    EXPECT_FALSE(waitUntil(setupWindowShown, 2s));
    quit(*app);

    profile = AppProcess::freshProfile();
    app = std::make_unique<AppProcess>(server(), authority(), profile);
    app->storeApiKey(server().acceptedApiKey());
    app->start();
    ASSERT_TRUE(app->waitForLog("Authenticated as")) << app->output().constData();
    EXPECT_FALSE(waitUntil(setupWindowShown, 2s));
    EXPECT_FALSE(initialSetupPresented(*app));
    quit(*app);
}

// The sign-in starts in the application and goes through the browser (the stand-in one of the
// private desktop), whose tessvale: callback a second Tessvale process forwards to the running one;
// the running one exchanges the code and keeps the service's key in its profile's keyring.
TEST_F(AppSignInTest, SignsInThroughTheCallbackForwardedByASecondProcess)
{
    auto app = launch();
    QStringList windows;
    ASSERT_TRUE(waitUntil([&] { return !(windows = tessvale::testing::windowsNamed(setupTitle)).isEmpty(); }, 60s))
        << app->output().constData();
    // A key that lands before the window takes input is lost: press again until the sign-in opens.
    for (int attempt = 0; attempt < 3 && !app->logged("Opened browser sign-in"); ++attempt) {
        pressPrimaryButton(windows.first());
        app->waitForLog("Opened browser sign-in", 10s);
    }
    ASSERT_TRUE(app->waitForLog("Browser sign-in completed for dictation@example.com.", 30s))
        << app->output().constData();
    EXPECT_EQ(app->storedApiKey(), std::optional<QString>(server().acceptedApiKey()));

    const QStringList requests = requestLines();
    const auto position = [&](const QString& request) { return requests.indexOf(request); };
    EXPECT_GE(position(QStringLiteral("POST /client/v1/native-auth/start")), 0)
        << requests.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(
        position(QStringLiteral("GET /authorize")), position(QStringLiteral("POST /client/v1/native-auth/start")));
    EXPECT_GT(
        position(QStringLiteral("POST /client/v1/native-auth/token")), position(QStringLiteral("GET /authorize")));
    // The browser had the sign-in page over plain HTTP, the rest over TLS.
    for (const FakeHttpRequest& request : server().requests())
        EXPECT_EQ(request.encrypted, request.path != QStringLiteral("/authorize")) << request.path.toStdString();
    quit(*app);

    // The next launch is signed in with that key.
    server().clearRequests();
    app = launch();
    ASSERT_TRUE(app->waitForLog("Authenticated as dictation@example.com.")) << app->output().constData();
    EXPECT_TRUE(requestLines().contains(QStringLiteral("GET /client/v1/me (key)")));
    quit(*app);
}

// Signed in, the held shortcut dictates into the focused Qt text field.
TEST_F(AppSignInTest, HeldShortcutDictatesIntoTheTextTarget)
{
    tessvale::testing::TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const QString dictated = QStringLiteral("Dictated through the real shortcut.");
    server().stream().setCommittedText(dictated);
    auto app = std::make_unique<AppProcess>(server(), authority(), profile);
    app->storeApiKey(server().acceptedApiKey());
    app->start();
    ASSERT_TRUE(app->waitForLog("Authenticated as")) << app->output().constData();

    tessvale::testing::holdShortcut(true);
    const bool started = waitUntil(
        [&] { return server().stream().connectionCount() > 0 && !server().stream().connection().textFrames.isEmpty(); },
        60s);
    if (started)
        waitUntil([] { return false; }, 400ms);
    tessvale::testing::holdShortcut(false);
    ASSERT_TRUE(started) << "no dictation began: " << app->output().constData();
    EXPECT_EQ(target.waitForText(dictated), dictated) << app->output().constData();
    quit(*app);
}
