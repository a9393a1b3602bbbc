#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>

#include "menu/MenuBarContentView.h"
#include "platform/PlatformServices.h"
#include "platform/system/LoginItemService.h"
#include "setup/SetupView.h"
#include "setup/SetupWindowController.h"
#include "support/async/EventLoopWaits.h"
#include "support/audio/FakeAudioSystem.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "system/LaunchAtLoginService.h"
#include "windows/DesktopAppearance.h"
#include "windows/settings/SettingsWindowController.h"
#include "windows/shortcuts/ShortcutBindingEditorRow.h"
#include "windows/shortcuts/ShortcutSettingsCard.h"

// After Qt: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

class MemoryLoginItem final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return m_status; }
    PlatformResult registerApplication() override
    {
        m_status = LoginItemStatus::enabled;
        return PlatformResult::ok();
    }
    PlatformResult unregisterApplication() override
    {
        m_status = LoginItemStatus::notRegistered;
        return PlatformResult::ok();
    }

private:
    LoginItemStatus m_status = LoginItemStatus::notRegistered;
};

struct Fixture
{
    CoordinatorHarness h;
    LaunchAtLoginService login { std::make_shared<MemoryLoginItem>() };
    SetupWindowController controller { h.settings(), h.coordinator(), login };

    // For a screenshot: the window drawn as it now stands.
    void settle()
    {
        h.settle();
        QTest::qWait(50);
    }
};

// Where the X server has the window's contents, which moves only once the window manager has
// carried out a move.
QPoint serverPosition(QWidget* window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return {};
    int x = 0;
    int y = 0;
    ::Window child = 0;
    XTranslateCoordinates(
        display, static_cast<::Window>(window->winId()), DefaultRootWindow(display), 0, 0, &x, &y, &child);
    XCloseDisplay(display);
    return { x, y };
}

} // namespace

TEST(SetupWindowController, TheSameWindowComesBackWhereTheUserLeftIt)
{
    Fixture f;
    ASSERT_EQ(f.controller.window(), nullptr);
    ASSERT_TRUE(f.controller.showSetupWindow());
    QWidget* window = f.controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessvale Setup"));
    // 720 by 760 where the screen has room for it with a title bar, else what fits.
    const QRect available = window->screen()->availableGeometry();
    EXPECT_EQ(window->size(), setupWindowGeometry(available).size());
    EXPECT_EQ(window->minimumSize(), QSize(540, 480).boundedTo(window->size()));

    // Moved and with troubleshooting open, then closed: closing only hides.
    const QPoint placed = serverPosition(window);
    window->move(window->pos() + QPoint(-40, -30));
    // Settled once the server has the window elsewhere and Qt has heard where.
    QTRY_VERIFY_WITH_TIMEOUT(
        serverPosition(window) != placed && serverPosition(window) == window->geometry().topLeft(), 60000);
    const QPoint moved = window->pos();
    f.controller.view()->setShowTroubleshooting(true);
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 60000);

    ASSERT_TRUE(f.controller.showSetupWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(f.controller.window(), window);
    EXPECT_EQ(f.controller.ensureWindow(), window);
    QTRY_COMPARE_WITH_TIMEOUT(window->pos(), moved, 60000);
    EXPECT_TRUE(f.controller.view()->showTroubleshooting());

    // Minimised, then presented again: restored and active.
    window->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(window->isMinimized(), 60000);
    ASSERT_TRUE(f.controller.showSetupWindow());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isMinimized() && window->isVisible(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow(), 60000);
}

// The title bar stays on the screen, so the window can be moved and closed; the content scrolls.
TEST(SetupWindowController, TheWindowOpensWholeOnTheScreenWithItsTitleBar)
{
    Fixture f;
    ASSERT_TRUE(f.controller.showSetupWindow());
    QWidget* window = f.controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // The frame is known once the window manager has put its decoration around the window.
    QTRY_VERIFY_WITH_TIMEOUT(window->frameGeometry().top() < window->geometry().top(), 60000);
    const QRect available = window->screen()->availableGeometry();
    EXPECT_TRUE(available.contains(window->frameGeometry()))
        << "frame " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
        << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " in " << available.width()
        << "x" << available.height();
    EXPECT_LE(window->minimumHeight(), window->height());
    EXPECT_LE(window->minimumWidth(), window->width());
}

// Showing the window refreshes what may have changed meanwhile: devices, permissions, login item.
TEST(SetupWindowController, ShowingTheWindowRefreshesDevicesAndPermissions)
{
    Fixture f;
    f.h.microphoneStatus = MicrophoneAuthorizationStatus::denied;
    f.h.audio().deviceList = { { QStringLiteral("usb-1"), QStringLiteral("USB Mic"), 1 } };
    f.controller.showSetupWindow();
    EXPECT_TRUE(waitUntil([&] {
        return f.h.coordinator().permissionSnapshot().microphone == PermissionState::denied
            && f.h.coordinator().availableInputDevices().size() == 1;
    }));
    EXPECT_EQ(f.h.coordinator().permissionSnapshot().microphone, PermissionState::denied);
    EXPECT_EQ(f.h.coordinator().availableInputDevices().size(), 1);
}

namespace {

void save(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    QTest::qWait(150);
    const QString path = QDir(folder).filePath(name);
    ASSERT_TRUE(window->grab().save(path)) << path.toStdString();
}

} // namespace

// Saves setup-new-user.png, setup-checklist-midway.png, setup-ready.png and setup-shortcuts.png in
// $TESSVALE_SCREENSHOT_DIR.
TEST(SetupScreenshots, NewUserMidwayAndReady)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "TESSVALE_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(folder));

    Fixture f;
    f.h.microphoneStatus = MicrophoneAuthorizationStatus::notDetermined;
    f.h.accessibilityTrusted = false;
    f.controller.setShortcutsCardFactory([&f] { return new ShortcutSettingsCard(f.h.settings(), f.h.coordinator()); });
    f.controller.showSetupWindow();
    QWidget* window = f.controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    f.settle();
    save(window, QStringLiteral("setup-new-user.png"));
    // The whole screen, title bar and all, as the user sees the window come up.
    QTRY_VERIFY_WITH_TIMEOUT(window->frameGeometry().top() < window->geometry().top(), 60000);
    ASSERT_TRUE(window->screen()->grabWindow(0).save(QDir(folder).filePath(QStringLiteral("setup-on-screen.png"))));

    const QString email = QStringLiteral("ada@example.test");
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe(email));
    f.h.microphoneStatus = MicrophoneAuthorizationStatus::authorized;
    f.h.coordinator().refreshPermissions();
    f.settle();
    f.controller.view()->scrollArea()->ensureWidgetVisible(f.controller.view()->checklistButton(), 0, 120);
    save(window, QStringLiteral("setup-checklist-midway.png"));

    f.h.accessibilityTrusted = true;
    f.h.coordinator().refreshPermissions();
    Access::addTranscriptRecord(f.h.coordinator(),
        SessionTranscriptRecord { QUuid::createUuid(), QDateTime::currentDateTime(), QStringLiteral("hello"),
            QStringLiteral("Hello from the first dictation.") });
    f.h.settings().markLaunchReadinessCompleted(email);
    f.settle();
    f.controller.view()->scrollArea()->ensureWidgetVisible(f.controller.view()->latestTranscriptLabel(), 0, 60);
    save(window, QStringLiteral("setup-ready.png"));

    // Waiting for the browser: the address and its copy button near the top.
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe(email));
    f.h.coordinator().signOut();
    f.settle();
    f.h.coordinator().beginSignIn();
    f.settle();
    f.controller.view()->scrollArea()->verticalScrollBar()->setValue(0);
    save(window, QStringLiteral("setup-waiting-for-browser.png"));
    f.h.coordinator().cancelSignIn();
    Access::setSignedIn(f.h.coordinator(), CoordinatorHarness::sampleMe(email));
    f.settle();

    // The shortcuts card with the keyboard on its first button.
    auto* shortcuts = window->findChild<ShortcutSettingsCard*>();
    shortcuts->pushToTalkRow()->recordButton()->setFocus(Qt::TabFocusReason);
    f.controller.view()->scrollArea()->ensureWidgetVisible(shortcuts->resetButton(), 0, 60);
    save(window, QStringLiteral("setup-shortcuts.png"));
}

// Saves dark-setup.png, dark-preferences.png and dark-card.png in $TESSVALE_SCREENSHOT_DIR: the windows
// on a desktop that prefers dark (its GTK settings, as where no settings portal runs), with no Qt
// platform theme.
TEST(SetupScreenshots, EachWindowOnADarkDesktop)
{
    const QString folder = qEnvironmentVariable("TESSVALE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "TESSVALE_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString gtk
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/gtk-3.0");
    ASSERT_TRUE(QDir().mkpath(gtk));
    QFile settings(gtk + QStringLiteral("/settings.ini"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write("[Settings]\ngtk-application-prefer-dark-theme=1\n");
    settings.close();

    const PlatformServices platform = makePlatformServices();
    DesktopAppearance appearance(platform.colorScheme);
    ASSERT_LT(QApplication::palette().color(QPalette::Window).lightness(), 100);

    Fixture f;
    f.controller.setShortcutsCardFactory([&f] { return new ShortcutSettingsCard(f.h.settings(), f.h.coordinator()); });
    f.controller.showSetupWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.controller.window()));
    f.settle();
    save(f.controller.window(), QStringLiteral("dark-setup.png"));

    SettingsWindowController preferences(f.h.settings(), f.h.coordinator(), f.login);
    preferences.setShortcutsCardFactory(
        [](AppSettings& s, DictationCoordinator& c) { return new ShortcutSettingsCard(s, c); });
    preferences.showSettingsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(preferences.window()));
    f.settle();
    save(preferences.window(), QStringLiteral("dark-preferences.png"));

    MenuBarContentView card(
        f.h.coordinator(), [] {}, [] {});
    card.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
    f.settle();
    save(&card, QStringLiteral("dark-card.png"));
}
