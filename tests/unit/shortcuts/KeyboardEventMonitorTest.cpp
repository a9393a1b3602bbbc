#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "async/Sleeper.h"
#include "platform/SyntheticInputTracker.h"
#include "settings/ModifierKeyCodes.h"
#include "shortcuts/KeyboardEventMonitor.h"
#include "support/shortcuts/FakeKeySource.h"
#include "support/shortcuts/FakeSessionInputProbe.h"

using namespace tessvale;

namespace {

using Kind = KeyboardShortcutEvent::Kind;
const ShortcutModifiers control = ShortcutModifiers::control;
const ShortcutModifiers option = ShortcutModifiers::option;
const ShortcutModifiers shift = ShortcutModifiers::shift;

class KeyboardEventMonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto source = std::make_unique<FakeKeySource>();
        auto grabber = std::make_unique<FakeKeyGrabber>();
        auto probe = std::make_unique<FakeSessionInputProbe>();
        source->attachGrabber(grabber.get());
        m_source = source.get();
        m_grabber = grabber.get();
        m_probe = probe.get();
        m_monitor = std::make_unique<KeyboardEventMonitor>(
            std::move(source), std::move(grabber), m_clock, std::move(probe), m_syntheticInput);
    }

    void startRecording(bool answer = false)
    {
        m_monitor->start([this, answer](const KeyboardShortcutEvent& event) {
            m_events.push_back(event);
            return answer;
        });
    }

    static KeyboardShortcutEvent flags(ShortcutModifiers modifiers, double at)
    {
        return { Kind::flagsChanged, modifiers, std::nullopt, at, false };
    }
    static KeyboardShortcutEvent keyDown(ShortcutModifiers modifiers, quint16 keyCode, double at, bool repeat)
    {
        return { Kind::keyDown, modifiers, keyCode, at, repeat };
    }

    ManualSleeper m_clock;
    FakeKeySource* m_source = nullptr;
    FakeKeyGrabber* m_grabber = nullptr;
    FakeSessionInputProbe* m_probe = nullptr;
    std::shared_ptr<SyntheticInputTracker> m_syntheticInput = std::make_shared<SyntheticInputTracker>();
    std::unique_ptr<KeyboardEventMonitor> m_monitor;
    std::vector<KeyboardShortcutEvent> m_events;
};

TEST_F(KeyboardEventMonitorTest, BothSidesOfAModifierMakeOneMember)
{
    startRecording();
    m_source->press(MacKeyCode::control, 1.0);
    m_source->press(MacKeyCode::rightControl, 1.1);
    m_source->release(MacKeyCode::control, 1.2);
    m_source->press(MacKeyCode::rightOption, 1.3);
    m_source->release(MacKeyCode::rightControl, 1.4);
    m_source->release(MacKeyCode::rightOption, 1.5);
    const std::vector<KeyboardShortcutEvent> expected { flags(control, 1.0), flags(control | option, 1.3),
        flags(option, 1.4), flags({}, 1.5) };
    EXPECT_EQ(m_events, expected);
}

TEST_F(KeyboardEventMonitorTest, ReleaseReportedTwiceChangesTheSetOnce)
{
    startRecording();
    m_source->press(MacKeyCode::option, 1.0);
    m_source->release(MacKeyCode::option, 1.1);
    m_source->release(MacKeyCode::option, 1.1);
    const std::vector<KeyboardShortcutEvent> expected { flags(option, 1.0), flags({}, 1.1) };
    EXPECT_EQ(m_events, expected);
}

TEST_F(KeyboardEventMonitorTest, KeyPressCarriesHeldModifiersAndRepeatFlag)
{
    startRecording();
    m_source->press(MacKeyCode::shift, 1.0);
    m_source->press(MacKeyCode::space, 1.1);
    m_source->press(MacKeyCode::space, 1.2);
    m_source->release(MacKeyCode::space, 1.3);
    m_source->press(MacKeyCode::space, 1.4);
    m_source->press(MacKeyCode::capsLock, 1.5);
    const std::vector<KeyboardShortcutEvent> expected { flags(shift, 1.0),
        keyDown(shift, MacKeyCode::space, 1.1, false), keyDown(shift, MacKeyCode::space, 1.2, true),
        keyDown(shift, MacKeyCode::space, 1.4, false) };
    EXPECT_EQ(m_events, expected);
}

TEST_F(KeyboardEventMonitorTest, SyntheticKeysCountUnlessOurInjectorIsTyping)
{
    startRecording();
    // Another program's synthetic keys (xdotool, tests) are the user's as far as we can tell.
    m_source->press(MacKeyCode::control, 1.0, true);
    m_source->release(MacKeyCode::control, 1.1, true);
    ASSERT_EQ(m_events.size(), 2u);

    m_events.clear();
    {
        auto scope = m_syntheticInput->begin();
        m_source->press(MacKeyCode::control, 2.0, true);
        m_source->press(MacKeyCode::v, 2.0, true);
        m_source->release(MacKeyCode::v, 2.0, true);
        // Real keys pressed meanwhile still count.
        m_source->press(MacKeyCode::option, 2.1, false);
        m_source->release(MacKeyCode::control, 2.2, true);
    }
    const std::vector<KeyboardShortcutEvent> expected { flags(option, 2.1) };
    EXPECT_EQ(m_events, expected);
}

TEST_F(KeyboardEventMonitorTest, ReleaseLostOnTheWayIsTakenFromThePlatformStateBeforeTheNextEvent)
{
    startRecording();
    m_source->press(MacKeyCode::control, 1.0);
    m_source->press(MacKeyCode::option, 1.1);
    m_source->loseRelease(MacKeyCode::option);
    m_source->loseRelease(MacKeyCode::control);
    m_source->press(MacKeyCode::k, 5.0);
    const std::vector<KeyboardShortcutEvent> expected { flags(control, 1.0), flags(control | option, 1.1),
        flags({}, 5.0), keyDown({}, MacKeyCode::k, 5.0, false) };
    EXPECT_EQ(m_events, expected);
}

// The listener lags: by the time a press arrives, the platform has already seen the key go up.
TEST_F(KeyboardEventMonitorTest, PressAlreadyReleasedOnThePlatformIsReportedBeforeItsRelease)
{
    struct Case
    {
        const char* name;
        quint16 key;
        std::vector<KeyboardShortcutEvent> expected;
    };
    const Case cases[] = {
        { "quick tap", MacKeyCode::option,
            { flags(control, 1.0), flags(control | option, 1.1), flags(control, 1.15) } },
        { "repeat of a held key", MacKeyCode::control, { flags(control, 1.0), flags({}, 1.15) } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m_events.clear();
        startRecording();
        m_source->press(MacKeyCode::control, 1.0);
        m_source->listenerLags = true;
        m_source->press(c.key, 1.1);
        m_source->release(c.key, 1.15);
        m_source->listenerLags = false;
        m_source->deliverPendingEvents();
        EXPECT_EQ(m_events, c.expected);
    }
}

// A grabbed combination's press comes from its grab alone: the listener sees keys also while
// another client holds the keyboard, and the grab's report may come before the listener's. It
// carries the time the listener saw the key go down, not the time the grab's report arrived.
TEST_F(KeyboardEventMonitorTest, GrabbedCombinationIsReportedByItsGrabOnly)
{
    struct Case
    {
        const char* name;
        bool grabbedElsewhere;
        bool listenerLags;
        std::vector<KeyboardShortcutEvent> expected;
    };
    const KeyboardShortcutEvent held = flags(control | option, 1.1);
    const Case cases[] = {
        { "grab fires", false, false,
            { flags(control, 1.0), held, keyDown(control | option, MacKeyCode::space, 1.2, false) } },
        { "listener behind the grab", false, true,
            { flags(control, 1.0), held, keyDown(control | option, MacKeyCode::space, 1.2, false) } },
        { "another client's grab", true, false, { flags(control, 1.0), held } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m_events.clear();
        m_monitor->setSwallowedKeyCombos({ { MacKeyCode::space, control | option } }, nullptr);
        startRecording(true);
        m_source->keyboardGrabbedElsewhere = c.grabbedElsewhere;
        m_source->listenerLags = c.listenerLags;
        m_source->press(MacKeyCode::control, 1.0);
        m_source->press(MacKeyCode::option, 1.1);
        m_source->press(MacKeyCode::space, 1.2);
        m_source->listenerLags = false;
        m_source->deliverPendingEvents();
        EXPECT_EQ(m_events, c.expected);
    }
}

TEST_F(KeyboardEventMonitorTest, TypingWithoutModifiersNeverAsksThePlatformForHeldKeys)
{
    startRecording();
    for (int i = 0; i < 5; ++i) {
        m_source->press(MacKeyCode::k, 1.0 + i);
        m_source->release(MacKeyCode::k, 1.05 + i);
    }
    EXPECT_EQ(m_source->heldKeysQueries, 0);
    m_source->press(MacKeyCode::control, 10.0);
    m_source->press(MacKeyCode::k, 10.1);
    EXPECT_GT(m_source->heldKeysQueries, 0);
}

TEST_F(KeyboardEventMonitorTest, PlatformStateBehindTheEventsIsNotUsed)
{
    startRecording();
    m_source->heldKeysStale = true;
    m_source->press(MacKeyCode::control, 1.0);
    m_source->loseRelease(MacKeyCode::control);
    m_source->press(MacKeyCode::k, 2.0);
    ASSERT_EQ(m_events.size(), 2u);
    EXPECT_EQ(m_events.back().modifiers, control);
}

TEST_F(KeyboardEventMonitorTest, InterruptionReportsEmptyModifiersAndKeepsKeysStillHeld)
{
    startRecording();
    m_clock.advance(std::chrono::seconds(3));
    m_source->press(MacKeyCode::control, 1.0);
    m_source->interrupt();
    m_source->release(MacKeyCode::control, 4.0);
    const std::vector<KeyboardShortcutEvent> expected { flags(control, 1.0),
        { Kind::monitorInterrupted, {}, std::nullopt, 3.0, false }, flags({}, 4.0) };
    EXPECT_EQ(m_events, expected);
}

TEST_F(KeyboardEventMonitorTest, StartWithoutListenerThrowsUnavailable)
{
    m_source->startFailure = QStringLiteral("No X11 display is available (DISPLAY is not set).");
    try {
        startRecording();
        FAIL() << "start succeeded";
    } catch (const KeyboardEventMonitorError& error) {
        EXPECT_EQ(error.errorCase(), KeyboardEventMonitorError::Case::unavailable);
        EXPECT_EQ(error.localizedDescription(),
            "Keyboard shortcut monitoring is unavailable. Allow Tessvale to observe keyboard input and try "
            "again.");
    }
    EXPECT_FALSE(m_monitor->isRunning());
}

TEST_F(KeyboardEventMonitorTest, SecondStartReportsToTheSecondHandlerOnly)
{
    int first = 0;
    int second = 0;
    m_monitor->start([&](const KeyboardShortcutEvent&) { return ++first, false; });
    m_monitor->start([&](const KeyboardShortcutEvent&) { return ++second, false; });
    m_source->press(MacKeyCode::control, 1.0);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(m_source->startCount, 2);
}

TEST_F(KeyboardEventMonitorTest, SwallowedCombinationsAreGrabbedOnlyWhileRunning)
{
    QString reason;
    EXPECT_TRUE(m_monitor->setSwallowedKeyCombos({ { MacKeyCode::space, control | option } }, &reason));
    EXPECT_TRUE(m_grabber->grabs.empty());
    startRecording(true);
    const std::vector<FakeKeyGrabber::Grab> expected { { MacKeyCode::space, control | option } };
    EXPECT_EQ(m_grabber->grabs, expected);

    m_grabber->refused = { { MacKeyCode::k, control } };
    EXPECT_FALSE(m_monitor->setSwallowedKeyCombos({ { MacKeyCode::k, control } }, &reason));
    EXPECT_EQ(reason, "Another application already uses this key combination.");
    EXPECT_TRUE(m_grabber->grabs.empty());

    m_monitor->setSwallowedKeyCombos({ { MacKeyCode::space, control } }, &reason);
    m_monitor->stop();
    EXPECT_TRUE(m_grabber->grabs.empty());
    EXPECT_FALSE(m_source->running);
}

TEST_F(KeyboardEventMonitorTest, FnIsObservableOnlyWithAnFnKey)
{
    EXPECT_TRUE(m_monitor->canObserve(control | option));
    EXPECT_FALSE(m_monitor->canObserve(ShortcutModifiers::function));
    m_source->functionKeyPresent = true;
    EXPECT_TRUE(m_monitor->canObserve(ShortcutModifiers::function | control));
}

TEST_F(KeyboardEventMonitorTest, HandlerMayStopTheMonitor)
{
    m_monitor->start([this](const KeyboardShortcutEvent& event) {
        m_events.push_back(event);
        m_monitor->stop();
        return false;
    });
    m_source->press(MacKeyCode::control, 1.0);
    m_source->press(MacKeyCode::option, 1.1);
    EXPECT_EQ(m_events.size(), 1u);
    EXPECT_FALSE(m_monitor->isRunning());
}

} // namespace
