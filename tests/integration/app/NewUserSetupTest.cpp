#include <memory>

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTemporaryDir>

#include "AppProcess.h"
#include "TessvaleApp.h"
#include "coordinator/DictationCoordinator.h"
#include "instance/SingleInstance.h"
#include "settings/AppSettings.h"
#include "setup/SetupView.h"
#include "setup/SetupWindowController.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/focus/TextTargetProcess.h"

using namespace tessvale;
using namespace std::chrono_literals;

// A new user's first launch, in this process so the setup window's own state can be read: the
// window opens, "Connect Account" signs in through the browser (the private desktop's stand-in, whose
// tessvale: callback a second Tessvale process forwards here), the checklist moves to the test
// dictation, and a dictation with the held shortcut into the Qt text target completes it. The session
// is XFCE's with no web browser installed, whose opener fails for web pages: only BROWSER opens one.
class NewUserSetup : public FakeCloudFixture
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("BROWSER"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop of scripts/test-env";
        FakeCloudFixture::SetUp();
        const QByteArray origin = server().restOrigin().toString().toUtf8();
        qputenv("TESSVALE_REST_ORIGIN", origin);
        qputenv("TESSVALE_WEB_ORIGIN", origin);
        qputenv("TESSVALE_SERVICE_DOMAIN", trustedDomain.toUtf8());
        qputenv("TESSVALE_LOOPBACK_CA_FILE", authority().caCertificatePath().toUtf8());
        qputenv("TESSVALE_PROFILE", tessvale::testing::AppProcess::freshProfile().toUtf8());
        ASSERT_TRUE(tessvale::testing::writeFailingXfceOpener(m_bin.path()));
        m_path = qgetenv("PATH");
        m_desktop = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", m_bin.path().toUtf8() + ':' + m_path);
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
    }

    void TearDown() override
    {
        for (const char* name : { "TESSVALE_REST_ORIGIN", "TESSVALE_WEB_ORIGIN", "TESSVALE_SERVICE_DOMAIN",
                 "TESSVALE_LOOPBACK_CA_FILE", "TESSVALE_PROFILE" })
            qunsetenv(name);
        qputenv("PATH", m_path);
        qputenv("XDG_CURRENT_DESKTOP", m_desktop);
        FakeCloudFixture::TearDown();
    }

    QTemporaryDir m_bin;
    QByteArray m_path;
    QByteArray m_desktop;
};

TEST_F(NewUserSetup, SignsInRunsTheTestDictationAndShowsTheReadyCard)
{
    auto instance = std::make_unique<SingleInstance>();
    ASSERT_EQ(instance->claim(), SingleInstance::Role::instance);
    TessvaleApp scene(std::move(instance));
    DictationCoordinator& coordinator = scene.coordinator();

    ASSERT_TRUE(waitUntil(
        [&] {
            QWidget* window = scene.setupWindowController().window();
            return window && window->isVisible();
        },
        60s));
    SetupView* view = scene.setupWindowController().view();
    ASSERT_TRUE(view);
    ASSERT_EQ(view->checklistButton()->text(), QStringLiteral("Connect Account"));
    view->checklistButton()->click();
    ASSERT_TRUE(waitUntil([&] { return coordinator.isAuthenticated(); }, 60s)) << coordinator.lastError().toStdString();

    ASSERT_TRUE(
        waitUntil([&] { return view->checklistButton()->text() == QStringLiteral("Start Test Dictation"); }, 60s))
        << view->checklistButton()->text().toStdString();
    EXPECT_TRUE(view->isSectionShown(SetupSection::checklist));
    EXPECT_FALSE(view->isSectionShown(SetupSection::readyCard));

    // The test dictation goes where the user types, not into our own window.
    tessvale::testing::TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const QString dictated = QStringLiteral("My first dictation.");
    server().stream().setCommittedText(dictated);
    tessvale::testing::holdShortcut(true);
    const bool started = waitUntil([&] { return coordinator.phase() == DictationPhase::recording; }, 60s);
    if (started)
        waitUntil([] { return false; }, 400ms);
    tessvale::testing::holdShortcut(false);
    ASSERT_TRUE(started) << coordinator.lastError().toStdString();
    EXPECT_EQ(target.waitForText(dictated), dictated);

    ASSERT_TRUE(waitUntil([&] { return view->isSectionShown(SetupSection::readyCard); }, 60s));
    EXPECT_FALSE(view->isSectionShown(SetupSection::checklist));
    EXPECT_EQ(
        scene.settings().launchReadinessState(server().accountEmail()), AppSettings::LaunchReadinessState::completed);
}
