#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "platform/linux/system/PulseMicrophoneAuthorizer.h"
#include "platform/linux/system/X11AccessibilityTrust.h"
#include "platform/linux/system/XdgSystemSettingsOpener.h"
#include "support/HelperPrograms.h"
#include "support/Skips.h"
#include "system/PermissionService.h"

using namespace tessvale;

namespace {

bool soundServerRunning()
{
    QProcess pactl;
    pactl.start("pactl", { "info" });
    return pactl.waitForFinished(60000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

QString probe(const QProcessEnvironment& environment)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(tessvale::testing::helperProgramPath("tessvale-permission-probe"));
    EXPECT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    return QString::fromUtf8(child.readAllStandardOutput());
}

} // namespace

TEST(PermissionSnapshot, BothAuthorizedOnTheTestDesktopWithItsSoundServer)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !soundServerRunning())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the X server and sound server of scripts/test-env";
    const PermissionService service(PermissionService::systemOperations(std::make_shared<PulseMicrophoneAuthorizer>(),
        std::make_shared<XdgSystemSettingsOpener>(), std::make_shared<X11AccessibilityTrust>()));
    EXPECT_EQ(
        service.currentSnapshot(), (PermissionSnapshot { PermissionState::authorized, PermissionState::authorized }));
    EXPECT_TRUE(QCoro::waitFor(service.requestMicrophoneAccess()));
    EXPECT_EQ(probe(QProcessEnvironment::systemEnvironment()), "microphone=authorized\naccessibility=authorized\n");
}

TEST(PermissionSnapshot, BothDeniedWithoutDisplayOrSoundServer)
{
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("PULSE_SERVER", "unix:" + runtime.filePath("no-such-socket"));
    EXPECT_EQ(probe(environment), "microphone=denied\naccessibility=denied\n");
}

TEST(PermissionSnapshot, WaylandWithoutXWaylandIsDenied)
{
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.insert("WAYLAND_DISPLAY", "wayland-0");
    environment.insert("QT_LOGGING_RULES", "com.tessvale.mac.Permissions.info=true");
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(tessvale::testing::helperProgramPath("tessvale-permission-probe"));
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_TRUE(child.readAllStandardOutput().contains("accessibility=denied"));
    EXPECT_TRUE(child.readAllStandardError().contains("no X11 display (XWayland)")) << "the reason is logged";
}
