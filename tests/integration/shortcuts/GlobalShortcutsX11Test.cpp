#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/SyntheticInputTracker.h"
#include "platform/linux/shortcuts/X11KeyGrabber.h"
#include "platform/linux/shortcuts/X11KeySource.h"
#include "platform/linux/shortcuts/X11SessionInputProbe.h"
#include "settings/ModifierKeyCodes.h"
#include "shortcuts/DictationShortcutEngine.h"
#include "shortcuts/HotKeyMonitor.h"
#include "shortcuts/KeyboardEventMonitor.h"
#include "support/Skips.h"
#include "support/async/EventLoopWaits.h"
#include "support/focus/TextTargetProcess.h"
#include "support/shortcuts/ForeignKeyboardGrab.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include "support/shortcuts/XTestKeyboard.h"
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace tessvale;
using namespace std::chrono_literals;
using tessvale::testing::XTestKeyboard;

namespace {

// Keyboard monitors over the desktop's own keyboard, as the application makes them.
DictationShortcutEngine::MonitorFactory desktopMonitors(std::shared_ptr<SyntheticInputTracker> syntheticInput)
{
    return [syntheticInput] {
        return std::make_unique<KeyboardEventMonitor>(std::make_unique<X11KeySource>(),
            std::make_unique<X11KeyGrabber>(), Sleeper::system(), std::make_unique<X11SessionInputProbe>(),
            syntheticInput);
    };
}

using Action = DictationShortcutAction;
constexpr qint64 holdThresholdMs = static_cast<qint64>(DictationShortcutEngine::holdThreshold * 1000);

class GlobalShortcutsX11Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the X server of scripts/test-env";
        m_keyboard = std::make_unique<XTestKeyboard>();
        ASSERT_NE(m_keyboard->display(), nullptr);
    }

    void TearDown() override
    {
        m_engine.reset();
        QCoreApplication::processEvents();
    }

    void startEngine(ShortcutBinding handsFree = ShortcutBinding::defaultHandsFreeToggle)
    {
        m_engine = std::make_unique<DictationShortcutEngine>(
            ShortcutBinding::defaultPushToTalk, handsFree, [this](Action action) { m_actions.push_back(action); },
            [this](const std::optional<QString>& error) { m_errors.push_back(error); }, [] { return false; },
            desktopMonitors(m_syntheticInput), Sleeper::system());
        m_engine->start();
        // Listening and grabbing from here on: the key source and the grabber sync with the server as they start.
        ASSERT_EQ(m_errors, std::vector<std::optional<QString>> { std::nullopt });
    }

    void pressControlOption()
    {
        m_keyboard->down(XK_Control_L);
        m_keyboard->down(XK_Alt_L);
    }
    void releaseControlOption()
    {
        m_keyboard->up(XK_Alt_L);
        m_keyboard->up(XK_Control_L);
    }

    std::unique_ptr<XTestKeyboard> m_keyboard;
    std::shared_ptr<SyntheticInputTracker> m_syntheticInput = std::make_shared<SyntheticInputTracker>();
    std::unique_ptr<DictationShortcutEngine> m_engine;
    std::vector<Action> m_actions;
    std::vector<std::optional<QString>> m_errors;
};

TEST_F(GlobalShortcutsX11Test, HoldingControlOptionStartsThenStopsOnRelease)
{
    startEngine();
    pressControlOption();
    ASSERT_TRUE(waitUntil([this] { return !m_actions.empty(); }, 60s));
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    releaseControlOption();
    ASSERT_TRUE(waitUntil([this] { return m_actions.size() >= 2; }, 60s));
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
}

TEST_F(GlobalShortcutsX11Test, ShortTapEmitsNothing)
{
    startEngine();
    QElapsedTimer held;
    held.start();
    pressControlOption();
    spinEventLoop(100ms);
    releaseControlOption();
    if (held.elapsed() >= holdThresholdMs)
        GTEST_SKIP() << "the machine stalled the tap past the hold threshold: inconclusive";
    spinEventLoop(400ms);
    EXPECT_TRUE(m_actions.empty());
}

TEST_F(GlobalShortcutsX11Test, HoldReadLateByABusyMainThreadStartsAsSoonAsItIsSeen)
{
    startEngine();
    pressControlOption();
    // The main thread is blocked for longer than the hold threshold; only the server's time stamps
    // tell how long the keys have been down.
    std::this_thread::sleep_for(300ms);
    // Well within the threshold: a deadline counted from the moment the keys were read would not be.
    QElapsedTimer sinceLastLook;
    sinceLastLook.start();
    qint64 longestGap = 0;
    const bool started = waitUntil(
        [&] {
            longestGap = std::max(longestGap, sinceLastLook.restart());
            return !m_actions.empty();
        },
        150ms);
    if (!started && longestGap >= 50)
        GTEST_SKIP() << "the machine stalled the event loop for " << longestGap << " ms: inconclusive";
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    releaseControlOption();
    ASSERT_TRUE(waitUntil([this] { return m_actions.size() >= 2; }, 60s));
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
}

TEST_F(GlobalShortcutsX11Test, KeysSynthesizedByOurInjectorAreIgnored)
{
    startEngine();
    {
        auto scope = m_syntheticInput->begin();
        pressControlOption();
        spinEventLoop(300ms);
        releaseControlOption();
        spinEventLoop(50ms);
    }
    spinEventLoop(300ms);
    EXPECT_TRUE(m_actions.empty());
}

// Types modifiers + key and then "x" into a focused text field; returns the field's text.
QString typeComboIntoTextField(XTestKeyboard& keyboard, const std::vector<KeySym>& modifiers, KeySym key,
    const std::function<void()>& beforeTyping)
{
    // Ready once its window is the active one, so every key below reaches it (or the grab).
    tessvale::testing::TextTargetProcess target;
    if (!target.start())
        return "<target not ready>";
    beforeTyping();

    for (KeySym modifier : modifiers)
        keyboard.down(modifier);
    keyboard.down(key);
    keyboard.up(key);
    for (KeySym modifier : modifiers)
        keyboard.up(modifier);
    // A plain key afterwards shows that the field is receiving keys, and what came before it.
    keyboard.down(XK_x);
    keyboard.up(XK_x);
    waitUntil([&] { return target.text().contains('x'); });
    const QString text = target.text();
    target.kill();
    return text;
}

TEST_F(GlobalShortcutsX11Test, ComboTogglesAndItsSpaceNeverReachesTheFocusedField)
{
    EXPECT_EQ(
        typeComboIntoTextField(*m_keyboard, { XK_Control_L, XK_Alt_L }, XK_space, [this] { startEngine(); }), "x");
    // The field and the engine each read the keys from the server in their own time.
    waitUntil([this] { return !m_actions.empty(); });
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

// A text field ignores Control + Alt + Space by itself, so the same check with a combination whose
// key it would type shows that the grab is what keeps the key away (Alt + Space belongs to the
// window manager's window menu).
TEST_F(GlobalShortcutsX11Test, OptionKeyReachesTheFieldUnlessItIsTheHandsFreeCombo)
{
    EXPECT_EQ(typeComboIntoTextField(*m_keyboard, { XK_Alt_L }, XK_k, [] {}), "kx");
    const ShortcutBinding optionK { ShortcutGesture::keyComboPress, ShortcutModifiers::option, MacKeyCode::k };
    EXPECT_EQ(typeComboIntoTextField(*m_keyboard, { XK_Alt_L }, XK_k, [&] { startEngine(optionK); }), "x");
    waitUntil([this] { return !m_actions.empty(); });
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

// A screen locker or an open menu holds the keyboard: it receives every key, and neither the hold
// nor the combination may start a dictation meanwhile.
TEST_F(GlobalShortcutsX11Test, NothingStartsWhileAnotherClientGrabsTheKeyboard)
{
    startEngine();
    {
        ForeignKeyboardGrab grab;
        ASSERT_TRUE(grab.isHeld());
        pressControlOption();
        m_keyboard->down(XK_space);
        m_keyboard->up(XK_space);
        // Longer than the hold threshold, to show that nothing starts.
        spinEventLoop(400ms);
        releaseControlOption();
        spinEventLoop(50ms);
        EXPECT_TRUE(m_actions.empty());
        EXPECT_EQ(grab.keyPressesReceived(), 3);
    }
    pressControlOption();
    ASSERT_TRUE(waitUntil([this] { return !m_actions.empty(); }, 60s));
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    releaseControlOption();
    ASSERT_TRUE(waitUntil([this] { return m_actions.size() >= 2; }, 60s));
}

TEST_F(GlobalShortcutsX11Test, HotKeyTriggersOncePerIntervalAndATakenComboIsRefused)
{
    // Time stands still: however slowly the presses come, they fall within one interval.
    ManualSleeper clock;
    clock.advance(std::chrono::seconds(100));
    HotKeyMonitor monitor(std::make_unique<X11KeyGrabber>(), clock);
    int triggers = 0;
    const ShortcutBinding binding { ShortcutGesture::keyComboPress,
        ShortcutModifiers::control | ShortcutModifiers::option, MacKeyCode::k };
    monitor.registerBinding(binding, [&] { ++triggers; });
    for (int i = 0; i < 2; ++i) {
        pressControlOption();
        m_keyboard->down(XK_k);
        m_keyboard->up(XK_k);
        releaseControlOption();
        spinEventLoop(150ms);
    }
    EXPECT_EQ(triggers, 1);

    // Another client holds Control + Alt + J.
    Display* other = m_keyboard->display();
    XGrabKey(other, XKeysymToKeycode(other, XK_j), ControlMask | Mod1Mask, DefaultRootWindow(other), False,
        GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    try {
        monitor.registerBinding(
            { ShortcutGesture::keyComboPress, ShortcutModifiers::control | ShortcutModifiers::option, MacKeyCode::j },
            [] {});
        FAIL() << "registered a combination another client holds";
    } catch (const HotKeyMonitorError& error) {
        EXPECT_EQ(error.code(), HotKeyMonitorError::registrationFailed);
        EXPECT_EQ(error.localizedDescription(), "Another application already uses this key combination.");
    }
    XUngrabKey(other, XKeysymToKeycode(other, XK_j), ControlMask | Mod1Mask, DefaultRootWindow(other));
    XSync(other, False);
}

TEST(GlobalShortcutsWithoutDisplay, MonitorIsUnavailableAndTheEngineSaysSo)
{
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    std::unique_ptr<KeyboardEventMonitor> monitor = desktopMonitors(std::make_shared<SyntheticInputTracker>())();
    EXPECT_THROW(monitor->start([](const KeyboardShortcutEvent&) { return false; }), KeyboardEventMonitorError);

    std::vector<std::optional<QString>> errors;
    DictationShortcutEngine engine(
        ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle, [](Action) {},
        [&](const std::optional<QString>& error) { errors.push_back(error); }, [] { return false; },
        desktopMonitors(std::make_shared<SyntheticInputTracker>()), Sleeper::system());
    engine.start();
    if (!display.isEmpty())
        qputenv("DISPLAY", display);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
        QStringLiteral("Unable to register shortcut Control + Alt + Space: Keyboard shortcut "
                       "monitoring is unavailable. Allow Tessvale to observe keyboard input and try "
                       "again."));
    EXPECT_FALSE(engine.isMonitoring());
}

} // namespace
