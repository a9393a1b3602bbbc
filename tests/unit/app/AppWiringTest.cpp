#include <gtest/gtest.h>

#include <QScreen>
#include <QWidget>

#include "platform/SyntheticInputTracker.h"
#include "platform/shortcuts/KeyCodeTranslator.h"
#include "platform/system/LoginItemService.h"
#include "settings/InMemoryUserDefaults.h"
#include "settings/ModifierKeyCodes.h"
#include "setup/SetupWindowController.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/shortcuts/FakeKeySource.h"
#include "support/shortcuts/FakeSessionInputProbe.h"
#include "system/LaunchAtLoginService.h"
#include "wiring/AppWiring.h"

using namespace tessvale;
using Access = DictationCoordinatorTestAccess;

namespace {

ShortcutBinding hold(ShortcutModifiers modifiers)
{
    return { ShortcutGesture::holdModifiers, modifiers, std::nullopt };
}

DictationShortcutEngine::MonitorFactory fakeMonitors(Sleeper& sleeper, int& made)
{
    return [&sleeper, &made] {
        ++made;
        auto source = std::make_unique<FakeKeySource>();
        auto grabber = std::make_unique<FakeKeyGrabber>();
        source->attachGrabber(grabber.get());
        return std::make_unique<KeyboardEventMonitor>(std::move(source), std::move(grabber), sleeper,
            std::make_unique<FakeSessionInputProbe>(), std::make_shared<SyntheticInputTracker>());
    };
}

// The key map the recorder reads, with the keys the test holds down.
class HeldKeys final : public KeyCodeTranslator
{
public:
    void refresh() override { }
    std::optional<quint16> keyCode(quint32 nativeKeyCode) const override { return static_cast<quint16>(nativeKeyCode); }
    std::vector<quint16> heldKeyCodes() const override { return held; }

    std::vector<quint16> held;
};

class NoLoginItems final : public LoginItemService
{
public:
    LoginItemStatus status() const override { return LoginItemStatus {}; }
    PlatformResult registerApplication() override { return PlatformResult::failed({}); }
    PlatformResult unregisterApplication() override { return PlatformResult::failed({}); }
};

} // namespace

TEST(AppWiring, HandsFreeIsActiveOnlyWhileAHandsFreeDictationStartsOrRecords)
{
    using P = DictationPhase;
    const QList<P> phases = { P::signedOut, P::ready, P::starting, P::recording, P::finalizing, P::postProcessing,
        P::inserting, P::error };
    for (const P phase : phases) {
        const bool live = phase == P::starting || phase == P::recording;
        EXPECT_EQ(isHandsFreeActive(DictationTriggerMode::handsFree, phase), live) << caseName(phase).toStdString();
        EXPECT_FALSE(isHandsFreeActive(DictationTriggerMode::pushToTalk, phase));
        EXPECT_FALSE(isHandsFreeActive(std::nullopt, phase));
    }
}

TEST(AppWiring, TheEngineIsConfiguredWithTheStoredPairBeforeStartAndOnceForEachRealChange)
{
    CoordinatorHarness h;
    AppSettings& settings = h.settings();
    const ShortcutBinding storedPushToTalk = hold(ShortcutModifiers::control | ShortcutModifiers::shift);
    settings.setPushToTalkShortcut(storedPushToTalk);
    int monitors = 0;
    ShortcutWiring wiring(settings, h.coordinator(), fakeMonitors(h.sleeper(), monitors), h.sleeper());

    EXPECT_EQ(wiring.configurationCount(), 1);
    EXPECT_EQ(wiring.engine().pushToTalkBinding(), storedPushToTalk);
    wiring.start();
    EXPECT_TRUE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.configurationCount(), 1);

    // Equal values written again change nothing; each real change reconfigures once.
    settings.setPushToTalkShortcut(storedPushToTalk);
    settings.setHandsFreeToggleShortcut(settings.handsFreeToggleShortcut());
    EXPECT_EQ(wiring.configurationCount(), 1);
    const ShortcutBinding other = hold(ShortcutModifiers::control | ShortcutModifiers::command);
    settings.setPushToTalkShortcut(other);
    EXPECT_EQ(wiring.configurationCount(), 2);
    EXPECT_EQ(wiring.engine().pushToTalkBinding(), other);
    settings.setHandsFreeToggleShortcut(ShortcutBinding::defaultHandsFreeToggle);
    settings.setPushToTalkShortcut(other);
    EXPECT_EQ(wiring.configurationCount(), 2);
    EXPECT_EQ(monitors, 1);
    h.settle();
}

TEST(AppWiring, TheSetupFlagIsMarkedOnlyWhenTheWindowReallyCameUp)
{
    struct Row
    {
        bool signedIn;
        bool presentedBefore;
        bool windowComesUp;
        int presentations;
        bool marked;
    };
    const Row rows[] = {
        { false, false, true, 1, true },
        { false, false, false, 1, false },
        { true, false, true, 0, false },
        { false, true, true, 0, true },
    };
    for (const Row& row : rows) {
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        if (row.signedIn)
            Access::setSignedIn(c, CoordinatorHarness::sampleMe());
        if (row.presentedBefore)
            h.settings().markInitialSetupPresented();
        int presentations = 0;
        InitialSetupObserver observer(h.settings(), c, [&] {
            ++presentations;
            return row.windowComesUp;
        });
        EXPECT_EQ(presentations, 0);
        // Repeated values and a later false-to-true change present it no second time while marked.
        Access::setDidFinishSessionBootstrap(c, true);
        Access::setDidFinishSessionBootstrap(c, true);
        EXPECT_EQ(presentations, row.presentations);
        EXPECT_EQ(!h.settings().shouldPresentInitialSetup(), row.marked);
    }
}

// The setup window is where settings that cannot be kept are said; it comes up once, at start, for
// everyone, and marks the initial setup only when that was due.
TEST(AppWiring, SettingsThatCannotBeKeptBringUpTheSetupWindowAtStart)
{
    struct Row
    {
        bool signedIn;
        bool presentedBefore;
        bool marked;
    };
    const Row rows[] = {
        { true, true, true },
        { true, false, false },
        { false, false, true },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.signedIn);
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        if (row.signedIn)
            Access::setSignedIn(c, CoordinatorHarness::sampleMe());
        if (row.presentedBefore)
            h.settings().markInitialSetupPresented();
        h.defaults().setProblem(QStringLiteral("Settings cannot be saved: the file cannot be written."));
        int presentations = 0;
        InitialSetupObserver observer(h.settings(), c, [&] {
            ++presentations;
            return true;
        });
        Access::setDidFinishSessionBootstrap(c, true);
        Access::setDidFinishSessionBootstrap(c, false);
        Access::setDidFinishSessionBootstrap(c, true);
        EXPECT_EQ(presentations, 1);
        EXPECT_EQ(!h.settings().shouldPresentInitialSetup(), row.marked);
    }
}

TEST(AppWiring, TheSetupWindowIsBuiltOnceCentredAndComesBackFromMinimized)
{
    CoordinatorHarness h;
    LaunchAtLoginService launchAtLogin(std::make_shared<NoLoginItems>());
    SetupWindowController controller(h.settings(), h.coordinator(), launchAtLogin);
    EXPECT_EQ(controller.window(), nullptr);
    QWidget* window = controller.ensureWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessvale Setup"));
    // 720 by 760, or what fits on the screen with a title bar.
    EXPECT_EQ(window->geometry(), setupWindowGeometry(window->screen()->availableGeometry()));
    EXPECT_EQ(window->minimumSize(), QSize(540, 480).boundedTo(window->size()));
    EXPECT_TRUE(controller.showSetupWindow());
    window->close();
    EXPECT_FALSE(window->isVisible());
    window->showMinimized();
    EXPECT_TRUE(controller.showSetupWindow());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(controller.ensureWindow(), window);
}

TEST(AppWiring, ASuspendedEngineHoldsBackConfigurationsAndTakesTheLatestPairOnResume)
{
    CoordinatorHarness h;
    AppSettings& settings = h.settings();
    int monitors = 0;
    ShortcutWiring wiring(settings, h.coordinator(), fakeMonitors(h.sleeper(), monitors), h.sleeper());
    wiring.start();
    ASSERT_TRUE(wiring.engine().isMonitoring());

    // Nested: the engine listens again only after the last resume.
    wiring.suspend();
    wiring.suspend();
    EXPECT_FALSE(wiring.engine().isMonitoring());
    const ShortcutBinding first = hold(ShortcutModifiers::control | ShortcutModifiers::command);
    const ShortcutBinding latest = hold(ShortcutModifiers::option | ShortcutModifiers::command);
    settings.setPushToTalkShortcut(first);
    settings.setPushToTalkShortcut(latest);
    EXPECT_FALSE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.configurationCount(), 1);
    wiring.resume();
    EXPECT_FALSE(wiring.engine().isMonitoring());
    wiring.resume();
    EXPECT_TRUE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.configurationCount(), 2);
    EXPECT_EQ(wiring.engine().pushToTalkBinding(), latest);

    // Nothing held back: the engine simply listens again with the pair it has.
    wiring.suspend();
    wiring.resume();
    EXPECT_TRUE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.configurationCount(), 2);
    // A stopped wiring takes a held-back pair but stays stopped.
    wiring.suspend();
    wiring.stop();
    settings.setPushToTalkShortcut(first);
    wiring.resume();
    EXPECT_FALSE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.engine().pushToTalkBinding(), first);
    h.settle();
}

// A recording that ends with its keys still down (the shortcut captured at its key press, or the
// window losing the keyboard) leaves the engine deaf until those keys are up: the combination it
// listens for would otherwise start a dictation. Keys pressed later do not keep it waiting.
TEST(AppWiring, TheEngineListensAgainOnlyOnceTheRecordedKeysAreUp)
{
    CoordinatorHarness h;
    int monitors = 0;
    auto keys = std::make_shared<HeldKeys>();
    ShortcutWiring wiring(
        h.settings(), h.coordinator(), fakeMonitors(h.sleeper(), monitors), h.sleeper(), nullptr, keys);
    wiring.start();
    const auto waitAWhile = [&] {
        for (int tick = 0; tick < 10; ++tick)
            h.advance(std::chrono::milliseconds(20));
    };

    wiring.suspend();
    keys->held = { MacKeyCode::control, MacKeyCode::option, MacKeyCode::space };
    wiring.resume();
    waitAWhile();
    EXPECT_TRUE(wiring.isSuspended());
    EXPECT_FALSE(wiring.engine().isMonitoring());
    const ShortcutBinding changed = hold(ShortcutModifiers::control | ShortcutModifiers::command);
    h.settings().setPushToTalkShortcut(changed);
    keys->held = { MacKeyCode::control };
    waitAWhile();
    EXPECT_FALSE(wiring.engine().isMonitoring());

    keys->held = { MacKeyCode::shift };
    waitAWhile();
    EXPECT_FALSE(wiring.isSuspended());
    EXPECT_TRUE(wiring.engine().isMonitoring());
    EXPECT_EQ(wiring.engine().pushToTalkBinding(), changed);

    // A new recording while the last one's keys are still down takes over; it waits for its own.
    keys->held = { MacKeyCode::option };
    wiring.suspend();
    wiring.resume();
    wiring.suspend();
    keys->held = {};
    waitAWhile();
    EXPECT_TRUE(wiring.isSuspended());
    EXPECT_FALSE(wiring.engine().isMonitoring());
    wiring.resume();
    EXPECT_TRUE(wiring.engine().isMonitoring());
    h.settle();
}

TEST(AppWiring, ASuspensionStopsALivePushToTalkDictationOnly)
{
    for (const DictationTriggerMode mode : { DictationTriggerMode::pushToTalk, DictationTriggerMode::handsFree }) {
        CoordinatorHarness h;
        DictationCoordinator& c = h.coordinator();
        int monitors = 0;
        ShortcutWiring wiring(h.settings(), c, fakeMonitors(h.sleeper(), monitors), h.sleeper());
        Access::setSignedIn(c, CoordinatorHarness::sampleMe());
        Access::setTriggerMode(c, mode);
        Access::setPhase(c, DictationPhase::recording);
        wiring.suspend();
        h.settle();
        // Its key release would never be seen; a hands-free dictation needs no key held.
        EXPECT_EQ(h.logged("Stopping recording for pushToTalk session."), mode == DictationTriggerMode::pushToTalk);
        EXPECT_EQ(c.phase() == DictationPhase::recording, mode == DictationTriggerMode::handsFree);
        wiring.resume();
        h.settle();
    }
}
