#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "auth/KeychainStore.h"
#include "coordinator/DictationCoordinator.h"
#include "platform/linux/auth/LibsecretSecretStore.h"
#include "support/HelperPrograms.h"
#include "support/async/TaskRunner.h"
#include "support/cloud/FakeCloudFixture.h"
#include "system/BundleInfo.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;
using namespace tessvale;

namespace {

void sendKey(Display* display, KeySym keysym, bool press)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press ? True : False, CurrentTime);
    XSync(display, False);
}

QString frameCase(const QString& frame)
{
    return QJsonDocument::fromJson(frame.toUtf8()).object().value(QStringLiteral("Case")).toString();
}

} // namespace

// The real application, signed in against the fake service: SIGTERM while the shortcut is held
// cancels the session on the service and closes it normally before the process exits.
class AppDictationQuitTest : public FakeCloudFixture
{
};

TEST_F(AppDictationQuitTest, TerminationMidDictationCancelsTheSessionBeforeExit)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs the private desktop of scripts/test-env";
    const QString apiKey = QStringLiteral("tv_test_appquitkey");
    server().setAcceptedApiKey(apiKey);
    KeychainStore keychain(KeychainStore::resolvedService(std::nullopt, BundleInfo::main().bundleIdentifier()),
        std::make_shared<LibsecretSecretStore>());
    runTask(keychain.save(apiKey, DictationCoordinator::apiKeyAccount));

    QProcess app;
    app.setProgram(tessvale::testing::helperProgramPath(QStringLiteral("Tessvale")));
    app.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString origin = server().restOrigin().toString();
    environment.insert(QStringLiteral("TESSVALE_REST_ORIGIN"), origin);
    environment.insert(QStringLiteral("TESSVALE_WEB_ORIGIN"), origin);
    environment.insert(QStringLiteral("TESSVALE_SERVICE_DOMAIN"), trustedDomain);
    environment.insert(QStringLiteral("TESSVALE_LOOPBACK_CA_FILE"), authority().caCertificatePath());
    app.setProcessEnvironment(environment);
    app.start();
    QByteArray output;
    const auto logged = [&](const char* text) {
        output += app.readAll();
        return output.contains(text);
    };
    ASSERT_TRUE(waitUntil([&] { return logged("Authenticated as"); }, 20s)) << output.constData();

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    sendKey(display, XK_Control_L, true);
    sendKey(display, XK_Alt_L, true);
    const bool started = waitUntil(
        [&] {
            output += app.readAll();
            return server().stream().connectionCount() > 0 && !server().stream().connection().textFrames.isEmpty();
        },
        10s);
    if (started)
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    const bool exited = started && app.waitForFinished(5000);
    sendKey(display, XK_Alt_L, false);
    sendKey(display, XK_Control_L, false);
    XCloseDisplay(display);
    output += app.readAll();
    ASSERT_TRUE(started) << "no dictation began: " << output.constData();
    ASSERT_TRUE(exited) << output.constData();

    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << output.constData();
    ASSERT_TRUE(waitUntil([&] { return server().stream().connection().closed; }));
    const QStringList frames = server().stream().connection().textFrames;
    EXPECT_EQ(frameCase(frames.first()), QStringLiteral("StartSession"));
    EXPECT_EQ(frameCase(frames.last()), QStringLiteral("CancelSession"))
        << frames.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(server().stream().connection().closeCode, QWebSocketProtocol::CloseCodeNormal);
}
