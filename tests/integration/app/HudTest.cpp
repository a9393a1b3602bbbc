#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QTest>

#include "support/async/EventLoopWaits.h"
#include <QTimer>
#include <QWindow>

#include "coordinator/DictationCoordinatorTestAccess.h"
#include "hud/DictationHUDWaveformView.h"
#include "hud/DictationHUDWindowController.h"
#include "support/Skips.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/focus/TextTargetProcess.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace tessvale;
using tessvale::testing::activeWindowId;
using tessvale::testing::hasDesktop;
using tessvale::testing::TextTargetProcess;

namespace {

struct DisplayCloser
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};

Window inputFocus(Display* display)
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

// A real click through the X server, as the user's pointer makes it.
void clickAt(Display* display, QPoint global)
{
    XTestFakeMotionEvent(display, -1, global.x(), global.y(), 0);
    XTestFakeButtonEvent(display, 1, True, 0);
    XTestFakeButtonEvent(display, 1, False, 20);
    XFlush(display);
}

const QString kStopIgnored = QStringLiteral("Ignored stop request because no dictation is active.");

} // namespace

TEST(Hud, NeverTakesTheFocusAndItsStopButtonStopsOnce)
{
    if (!hasDesktop())
        TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the private desktop (scripts/test-env)";
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    ASSERT_TRUE(display);
    TextTargetProcess target;
    ASSERT_TRUE(target.start());
    const quint64 active = activeWindowId();
    const Window focus = inputFocus(display.get());
    ASSERT_EQ(active, target.windowId());

    CoordinatorHarness h;
    DictationHUDWindowController hud(h.coordinator(), [](const QString&) { return QIcon(); });
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::recording);
    QTRY_VERIFY_WITH_TIMEOUT(hud.window()->isVisible(), 60000);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(hud.window()->windowHandle()));
    // Give the window manager time to act on the new window.
    spinEventLoop(std::chrono::milliseconds(400));
    EXPECT_EQ(activeWindowId(), active);
    EXPECT_EQ(inputFocus(display.get()), focus);
    EXPECT_FALSE(hud.window()->isActiveWindow());

    QAbstractButton* stop = hud.view()->stopButton();
    ASSERT_TRUE(stop->isVisible());
    clickAt(display.get(), stop->mapToGlobal(stop->rect().center()));
    QTRY_VERIFY_WITH_TIMEOUT(h.logged(kStopIgnored), 60000);
    spinEventLoop(std::chrono::milliseconds(300));
    h.settle();
    EXPECT_EQ(h.activityMessages().count(kStopIgnored), 1);
    EXPECT_EQ(activeWindowId(), active);
    EXPECT_EQ(inputFocus(display.get()), focus);

    // Hidden, nothing keeps running: no frame timer, no fade.
    DictationCoordinatorTestAccess::setPhase(h.coordinator(), DictationPhase::ready);
    QTRY_VERIFY_WITH_TIMEOUT(!hud.window()->isVisible(), 60000);
    h.settle();
    for (const QTimer* timer : hud.window()->findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive()) << timer->metaObject()->className();
    for (const QAbstractAnimation* animation : hud.findChildren<QAbstractAnimation*>())
        EXPECT_EQ(animation->state(), QAbstractAnimation::Stopped);
    EXPECT_FALSE(hud.view()->waveform()->isAnimating());
    EXPECT_EQ(activeWindowId(), active);
}
