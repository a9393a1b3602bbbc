#include <gtest/gtest.h>

#include <QCoreApplication>

#include <functional>
#include <vector>

#include "async/Sleeper.h"
#include "settings/ModifierKeyCodes.h"
#include "shortcuts/DictationShortcutEngine.h"
#include "support/shortcuts/FakeKeySource.h"
#include "support/shortcuts/FakeSessionInputProbe.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

using Action = DictationShortcutAction;
const ShortcutModifiers control = ShortcutModifiers::control;
const ShortcutModifiers option = ShortcutModifiers::option;
const ShortcutModifiers fn = ShortcutModifiers::function;

ShortcutBinding hold(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::holdModifiers, modifiers, std::nullopt };
}
ShortcutBinding doubleTap(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::doubleTapModifiers, modifiers, std::nullopt };
}
ShortcutBinding combo(ShortcutModifiers modifiers, quint16 keyCode)
{
    return { ShortcutGesture::keyComboPress, modifiers, keyCode };
}

class DictationShortcutEngineTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_engine.reset();
        QCoreApplication::processEvents();
    }

    void create(ShortcutBinding pushToTalk = ShortcutBinding::defaultPushToTalk,
        ShortcutBinding handsFree = ShortcutBinding::defaultHandsFreeToggle)
    {
        m_engine = std::make_unique<DictationShortcutEngine>(
            pushToTalk, handsFree, [this](Action action) { recordAction(action); },
            [this](const std::optional<QString>& error) { m_errors.push_back(error); },
            [this] { return m_handsFreeActive; },
            [this] {
                auto source = std::make_unique<FakeKeySource>();
                source->functionKeyPresent = m_functionKeyPresent;
                source->startFailure = m_startFailure;
                auto grabber = std::make_unique<FakeKeyGrabber>();
                grabber->refused = m_refusedGrabs;
                auto probe = std::make_unique<FakeSessionInputProbe>();
                source->attachGrabber(grabber.get());
                m_source = source.get();
                m_grabber = grabber.get();
                m_probe = probe.get();
                ++m_monitorsCreated;
                return std::make_unique<KeyboardEventMonitor>(std::move(source), std::move(grabber), m_sleeper,
                    std::move(probe), std::make_shared<SyntheticInputTracker>());
            },
            m_sleeper);
    }

    void recordAction(Action action)
    {
        m_actions.push_back(action);
        if (m_toggleSetsHandsFree && action == Action::toggleHandsFree)
            m_handsFreeActive = !m_handsFreeActive;
    }

    double now() const { return std::chrono::duration<double>(m_sleeper.now()).count(); }
    void press(quint16 keyCode) { m_source->press(keyCode, now()); }
    void release(quint16 keyCode) { m_source->release(keyCode, now()); }
    void advance(Duration duration) { m_sleeper.advance(duration); }
    void pressControlOption()
    {
        press(MacKeyCode::control);
        press(MacKeyCode::option);
    }
    void releaseControlOption()
    {
        release(MacKeyCode::option);
        release(MacKeyCode::control);
    }
    void holdControlOption()
    {
        pressControlOption();
        advance(300ms);
        releaseControlOption();
    }
    void pressCombo()
    {
        pressControlOption();
        advance(50ms);
        press(MacKeyCode::space);
        release(MacKeyCode::space);
        releaseControlOption();
        advance(1s);
    }
    void doubleTapCommand()
    {
        for (int i = 0; i < 2; ++i) {
            press(MacKeyCode::command);
            advance(50ms);
            release(MacKeyCode::command);
            advance(100ms);
        }
        advance(1s);
    }
    // Another client's active keyboard grab, a locked session.
    void setBlocked(bool grabbedElsewhere, bool locked)
    {
        m_source->keyboardGrabbedElsewhere = grabbedElsewhere;
        m_probe->keyboardGrabbedElsewhere = grabbedElsewhere;
        m_probe->sessionLocked = locked;
    }

    ManualSleeper m_sleeper;
    std::unique_ptr<DictationShortcutEngine> m_engine;
    FakeKeySource* m_source = nullptr;
    FakeKeyGrabber* m_grabber = nullptr;
    FakeSessionInputProbe* m_probe = nullptr;
    int m_monitorsCreated = 0;
    bool m_functionKeyPresent = false;
    std::optional<QString> m_startFailure;
    std::vector<FakeKeyGrabber::Grab> m_refusedGrabs;
    bool m_handsFreeActive = false;
    bool m_toggleSetsHandsFree = false;
    std::vector<Action> m_actions;
    std::vector<std::optional<QString>> m_errors;
};

TEST_F(DictationShortcutEngineTest, HoldStartsAfterTheThresholdAndReleaseStops)
{
    create();
    m_engine->start();
    ASSERT_EQ(m_errors, std::vector<std::optional<QString>> { std::nullopt });
    advance(10s);
    pressControlOption();
    EXPECT_TRUE(m_engine->hasHoldTimer());
    advance(219ms);
    EXPECT_TRUE(m_actions.empty());
    advance(1ms);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    EXPECT_FALSE(m_engine->hasHoldTimer());
    advance(1s);
    release(MacKeyCode::option);
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
}

TEST_F(DictationShortcutEngineTest, ShortTapEmitsNothing)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    advance(100ms);
    releaseControlOption();
    EXPECT_FALSE(m_engine->hasHoldTimer());
    advance(1s);
    EXPECT_TRUE(m_actions.empty());
}

TEST_F(DictationShortcutEngineTest, HoldTimerFiringBeforeTheHoldIsLongEnoughRearms)
{
    create();
    m_engine->start();
    advance(10s);
    // The key event was stamped later than the moment it is handled (clock offset, for example).
    press(MacKeyCode::control);
    m_source->press(MacKeyCode::option, now() + 0.1);
    advance(220ms);
    EXPECT_TRUE(m_actions.empty());
    EXPECT_TRUE(m_engine->hasHoldTimer());
    advance(220ms);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    EXPECT_FALSE(m_engine->hasHoldTimer());
}

TEST_F(DictationShortcutEngineTest, KeyComboTogglesCancelsTheHoldAndSwallowsRepeatsWithoutActions)
{
    create();
    m_engine->start();
    const std::vector<FakeKeyGrabber::Grab> grabbed { { MacKeyCode::space, control | option } };
    EXPECT_EQ(m_grabber->grabs, grabbed);
    advance(10s);
    pressControlOption();
    advance(50ms);
    press(MacKeyCode::space);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
    for (int i = 0; i < 5; ++i) {
        advance(30ms);
        press(MacKeyCode::space);
    }
    advance(1s);
    release(MacKeyCode::space);
    releaseControlOption();
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

TEST_F(DictationShortcutEngineTest, KeyWithOtherModifiersIsNotTheCombo)
{
    create();
    m_engine->start();
    advance(10s);
    press(MacKeyCode::control);
    press(MacKeyCode::option);
    press(MacKeyCode::shift);
    press(MacKeyCode::space);
    release(MacKeyCode::space);
    release(MacKeyCode::shift);
    EXPECT_TRUE(m_actions.empty());
    // Another key during a hold does not disturb it.
    press(MacKeyCode::k);
    advance(300ms);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
}

TEST_F(DictationShortcutEngineTest, PushModifiersDuringHandsFreeEndItAtThePress)
{
    create();
    m_engine->start();
    m_handsFreeActive = true;
    advance(10s);
    pressControlOption();
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
    EXPECT_FALSE(m_engine->hasHoldTimer());
    advance(1s);
    releaseControlOption();
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

TEST_F(DictationShortcutEngineTest, PushTapEndingWhileHandsFreeIsActiveToggles)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    // A hands-free dictation began (from the menu) while the modifiers were down.
    m_handsFreeActive = true;
    advance(100ms);
    release(MacKeyCode::option);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
    advance(1s);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

TEST_F(DictationShortcutEngineTest, DoubleTapTogglesHandsFree)
{
    create(hold(control | option), doubleTap(ShortcutModifiers::command));
    m_engine->start();
    EXPECT_TRUE(m_grabber->grabs.empty());
    advance(10s);
    press(MacKeyCode::command);
    advance(50ms);
    release(MacKeyCode::command);
    advance(150ms);
    press(MacKeyCode::rightCommand);
    advance(50ms);
    release(MacKeyCode::rightCommand);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::toggleHandsFree });
}

TEST_F(DictationShortcutEngineTest, ReconfigurationDropsGestureState)
{
    create(hold(control | option), doubleTap(ShortcutModifiers::command));
    m_engine->start();
    advance(10s);
    pressControlOption();
    m_engine->configureBindings(hold(control | option), doubleTap(ShortcutModifiers::command));
    advance(1s);
    EXPECT_TRUE(m_actions.empty());

    releaseControlOption();
    press(MacKeyCode::command);
    release(MacKeyCode::command);
    m_engine->configureBindings(hold(control | option), doubleTap(ShortcutModifiers::command));
    advance(100ms);
    press(MacKeyCode::command);
    release(MacKeyCode::command);
    EXPECT_TRUE(m_actions.empty());
    EXPECT_EQ(m_monitorsCreated, 1);
}

TEST_F(DictationShortcutEngineTest, InvalidBindingsKeepTheRunningConfiguration)
{
    create();
    m_engine->start();
    m_errors.clear();
    m_engine->configureBindings(combo(control, MacKeyCode::k), hold(control));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0], QStringLiteral("Push to talk must use a modifier hold binding."));
    m_engine->configureBindings(hold(control), hold(control));
    EXPECT_EQ(m_errors[1], QStringLiteral("Hands-free toggle cannot use a hold binding."));
    EXPECT_EQ(m_engine->pushToTalkBinding(), ShortcutBinding::defaultPushToTalk);
    advance(10s);
    pressControlOption();
    advance(300ms);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
}

TEST_F(DictationShortcutEngineTest, MonitorFailureIsReportedAndALaterConfigurationRetries)
{
    m_startFailure = QStringLiteral("No X11 display is available (DISPLAY is not set).");
    create();
    m_engine->start();
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0],
        QStringLiteral("Unable to register shortcut Control + Alt + Space: Keyboard shortcut "
                       "monitoring is unavailable. Allow Tessvale to observe keyboard input and "
                       "try again."));
    EXPECT_FALSE(m_engine->isMonitoring());

    m_startFailure.reset();
    m_engine->configureBindings(ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle);
    EXPECT_EQ(m_errors.back(), std::nullopt);
    EXPECT_TRUE(m_engine->isMonitoring());
}

TEST_F(DictationShortcutEngineTest, FnBindingWithoutAnFnKeyIsReported)
{
    create(hold(fn), combo(fn, MacKeyCode::space));
    m_engine->start();
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0],
        QStringLiteral("This keyboard does not report the Fn key, so the shortcut Hold Fn cannot "
                       "work. Record another shortcut."));
    m_engine->configureBindings(hold(control), combo(fn, MacKeyCode::space));
    EXPECT_EQ(m_errors.back(),
        QStringLiteral("This keyboard does not report the Fn key, so the shortcut Fn + Space "
                       "cannot work. Record another shortcut."));
    m_engine->configureBindings(hold(control), combo(control, MacKeyCode::space));
    EXPECT_EQ(m_errors.back(), std::nullopt);
}

TEST_F(DictationShortcutEngineTest, FnBindingWithAnFnKeyWorks)
{
    m_functionKeyPresent = true;
    create(hold(fn), combo(fn, MacKeyCode::space));
    m_engine->start();
    EXPECT_EQ(m_errors.back(), std::nullopt);
    advance(10s);
    press(MacKeyCode::function);
    advance(220ms);
    release(MacKeyCode::function);
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
}

TEST_F(DictationShortcutEngineTest, ComboTakenByAnotherApplicationIsReported)
{
    m_refusedGrabs = { { MacKeyCode::space, control | option } };
    create();
    m_engine->start();
    EXPECT_EQ(m_errors.back(),
        QStringLiteral("Unable to register shortcut Control + Alt + Space: Another "
                       "application already uses this key combination."));
    EXPECT_TRUE(m_engine->isMonitoring());
}

TEST_F(DictationShortcutEngineTest, MissedReleaseStopsPushToTalkAtTheNextEvent)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    advance(300ms);
    ASSERT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
    m_source->loseRelease(MacKeyCode::option);
    m_source->loseRelease(MacKeyCode::control);
    advance(5s);
    press(MacKeyCode::a);
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
}

TEST_F(DictationShortcutEngineTest, LostModifierReleasesNeverTurnAPlainSpaceIntoTheCombo)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    advance(100ms);
    m_source->loseRelease(MacKeyCode::option);
    m_source->loseRelease(MacKeyCode::control);
    press(MacKeyCode::space);
    release(MacKeyCode::space);
    advance(1s);
    EXPECT_TRUE(m_actions.empty());
}

// A screen locker or an open menu has the keyboard: what the user holds meanwhile is meant for it.
TEST_F(DictationShortcutEngineTest, NothingStartsWhileTheKeyboardBelongsToSomeoneElse)
{
    enum class Block { otherClientsGrab, lockedSession };
    struct Case
    {
        const char* name;
        ShortcutBinding handsFree;
        Block block;
        std::function<void()> gesture;
        std::vector<Action> actions;
    };
    const Case cases[] = {
        { "hold, grab", ShortcutBinding::defaultHandsFreeToggle, Block::otherClientsGrab,
            [this] { holdControlOption(); }, { Action::startPushToTalk, Action::stopPushToTalk } },
        { "hold, lock", ShortcutBinding::defaultHandsFreeToggle, Block::lockedSession, [this] { holdControlOption(); },
            { Action::startPushToTalk, Action::stopPushToTalk } },
        { "combo, grab", ShortcutBinding::defaultHandsFreeToggle, Block::otherClientsGrab, [this] { pressCombo(); },
            { Action::toggleHandsFree } },
        { "combo, lock", ShortcutBinding::defaultHandsFreeToggle, Block::lockedSession, [this] { pressCombo(); },
            { Action::toggleHandsFree } },
        { "double tap, grab", doubleTap(ShortcutModifiers::command), Block::otherClientsGrab,
            [this] { doubleTapCommand(); }, { Action::toggleHandsFree } },
        { "double tap, lock", doubleTap(ShortcutModifiers::command), Block::lockedSession,
            [this] { doubleTapCommand(); }, { Action::toggleHandsFree } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_actions.clear();
        create(hold(control | option), c.handsFree);
        m_engine->start();
        advance(10s);
        setBlocked(c.block == Block::otherClientsGrab, c.block == Block::lockedSession);
        c.gesture();
        EXPECT_TRUE(m_actions.empty());
        setBlocked(false, false);
        c.gesture();
        EXPECT_EQ(m_actions, c.actions);
    }
}

TEST_F(DictationShortcutEngineTest, DictationStillStopsWhileTheKeyboardBelongsToSomeoneElse)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    advance(300ms);
    setBlocked(true, true);
    releaseControlOption();
    m_handsFreeActive = true;
    pressControlOption();
    // The combination needs its grab, which only the locked session leaves to us.
    setBlocked(false, true);
    press(MacKeyCode::space);
    EXPECT_EQ(m_actions,
        (std::vector<Action> {
            Action::startPushToTalk, Action::stopPushToTalk, Action::toggleHandsFree, Action::toggleHandsFree }));
    // Only a start asks: a probe grab on every key would disturb the focused application.
    EXPECT_EQ(m_probe->grabProbes, 1);
}

TEST_F(DictationShortcutEngineTest, InterruptionDuringPushToTalkStops)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    advance(300ms);
    m_source->interrupt();
    EXPECT_EQ(m_actions, (std::vector<Action> { Action::startPushToTalk, Action::stopPushToTalk }));
    releaseControlOption();
    EXPECT_EQ(m_actions.size(), 2u);
}

TEST_F(DictationShortcutEngineTest, StopEndsMonitoringUntilTheNextConfiguration)
{
    create();
    m_engine->start();
    advance(10s);
    pressControlOption();
    m_engine->stop();
    advance(1s);
    EXPECT_TRUE(m_actions.empty());
    EXPECT_FALSE(m_engine->isMonitoring());
    QCoreApplication::processEvents();
    m_engine->configureBindings(ShortcutBinding::defaultPushToTalk, ShortcutBinding::defaultHandsFreeToggle);
    EXPECT_EQ(m_monitorsCreated, 2);
    pressControlOption();
    advance(300ms);
    EXPECT_EQ(m_actions, std::vector<Action> { Action::startPushToTalk });
}

} // namespace
