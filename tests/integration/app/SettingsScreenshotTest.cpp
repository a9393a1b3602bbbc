#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "platform/system/LoginItemService.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/settings/SettingsView.h"
#include "windows/settings/SettingsWindowController.h"

using namespace tessvale;

namespace {

class EnabledLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus::enabled; }
    PlatformResult registerApplication() override { return PlatformResult::ok(); }
    PlatformResult unregisterApplication() override { return PlatformResult::ok(); }
};

} // namespace

// Saves the Settings window, signed in, with the advanced section open, as
// settings-advanced.png in $TESSVALE_SCREENSHOT_DIR.
TEST(SettingsScreenshot, AdvancedOpen)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "TESSVALE_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(folder));

    CoordinatorHarness h;
    h.audio().deviceList = { { QStringLiteral("mic-a"), QStringLiteral("Built-in Microphone"), 1 } };
    LaunchAtLoginService launchAtLogin(std::make_shared<EnabledLoginItem>());
    DictationCoordinatorTestAccess::setSignedIn(h.coordinator(), CoordinatorHarness::sampleMe());
    h.settings().setDeviceName(QStringLiteral("Studio Desk"));

    SettingsWindowController controller(h.settings(), h.coordinator(), launchAtLogin);
    controller.showSettingsWindow();
    controller.view()->setAdvancedOpen(true);
    controller.window()->resize(600, 1500);
    h.settle();
    QTest::qWait(200);
    const QString path = QDir(folder).filePath(QStringLiteral("settings-advanced.png"));
    ASSERT_TRUE(controller.window()->grab().save(path)) << path.toStdString();
}
