#include <gtest/gtest.h>

#include <memory>

#include "insertion/TextInsertionService.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "support/Skips.h"
#include "support/async/TaskRunner.h"
#include "support/focus/FakeFocusPlatform.h"
#include "support/insertion/FakeInsertionPlatform.h"
#include "support/shortcuts/FakeScreenLocker.h"
#include "support/shortcuts/ForeignKeyboardGrab.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>

using namespace tessvale;
using namespace tessvale::testing;

namespace {

class SessionInputProbeX11Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the X server of scripts/test-env";
    }

    X11SessionInputProbe m_probe;
};

TEST_F(SessionInputProbeX11Test, AnotherClientsKeyboardGrabIsSeenAndOurProbeLeavesNoneBehind)
{
    EXPECT_FALSE(m_probe.isKeyboardGrabbedElsewhere());
    {
        ForeignKeyboardGrab grab;
        ASSERT_TRUE(grab.isHeld()) << "the probe's own grab was left behind";
        EXPECT_TRUE(m_probe.isKeyboardGrabbedElsewhere());
    }
    EXPECT_FALSE(m_probe.isKeyboardGrabbedElsewhere());
}

TEST_F(SessionInputProbeX11Test, ScreenSaverOrDesktopLockerCountsAsALockedSession)
{
    EXPECT_FALSE(m_probe.isSessionLocked());

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XForceScreenSaver(display, ScreenSaverActive);
    XSync(display, False);
    EXPECT_TRUE(m_probe.isSessionLocked());
    XForceScreenSaver(display, ScreenSaverReset);
    XSync(display, False);
    XCloseDisplay(display);
    EXPECT_FALSE(m_probe.isSessionLocked());

    FakeScreenLocker locker;
    ASSERT_TRUE(locker.isRegistered());
    EXPECT_FALSE(m_probe.isSessionLocked());
    locker.setActive(true);
    EXPECT_TRUE(m_probe.isSessionLocked());
}

TEST_F(SessionInputProbeX11Test, NoKeyIsSentWhileAnotherClientHasTheKeyboard)
{
    auto windows = std::make_shared<FakeWindowSystem>();
    auto clipboard = std::make_shared<FakeClipboard>();
    auto injector = std::make_shared<RecordingInputInjector>();
    // Once the keyboard is free, the target takes the paste.
    injector->onPaste = [clipboard] { clipboard->fetch(ClipboardSelection::clipboard); };
    TextInsertionHooks hooks;
    hooks.accessibilityTrusted = [] { return true; };
    hooks.enabledDrivers
        = QList<TextInsertionDriver> { TextInsertionDriver::pasteboard, TextInsertionDriver::unicodeTyping };
    TextInsertionService service(
        std::make_shared<FocusedAppDiagnosticsService>(windows, std::make_shared<FakeAccessibility>()), hooks,
        TextInsertionPlatform { clipboard, injector, nullptr, std::make_shared<X11SessionInputProbe>() });
    auto insert = [&] { return runTask(service.insert(QStringLiteral("hello"), false, false, false, nullptr)); };

    {
        ForeignKeyboardGrab grab;
        ASSERT_TRUE(grab.isHeld());
        try {
            insert();
            FAIL() << "inserted while another client had the keyboard";
        } catch (const TextInsertionServiceError& error) {
            EXPECT_EQ(error.localizedDescription(),
                "All insertion strategies failed: pasteboard: The keyboard is in use by another application or "
                "the screen is locked, so no text was typed.; unicodeTyping: The keyboard is in use by another "
                "application or the screen is locked, so no text was typed.");
        }
        EXPECT_TRUE(injector->events.isEmpty());
        EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), std::nullopt);
    }
    EXPECT_EQ(insert().driver, TextInsertionDriver::pasteboard);
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") });
}

} // namespace
