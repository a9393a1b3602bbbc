#include <gtest/gtest.h>

#include "async/Sleeper.h"
#include "shortcuts/HotKeyMonitor.h"
#include "support/shortcuts/FakeKeySource.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

const ShortcutModifiers controlOption = ShortcutModifiers::control | ShortcutModifiers::option;

class HotKeyMonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto grabber = std::make_unique<FakeKeyGrabber>();
        m_grabber = grabber.get();
        m_monitor = std::make_unique<HotKeyMonitor>(std::move(grabber), m_clock);
        // The interval counts from the clock's origin, as it does from system start.
        m_clock.advance(100s);
    }

    ManualSleeper m_clock;
    FakeKeyGrabber* m_grabber = nullptr;
    std::unique_ptr<HotKeyMonitor> m_monitor;
    int m_triggers = 0;
};

TEST_F(HotKeyMonitorTest, ModifierGesturesAndCombosWithoutKeyAreRefused)
{
    const ShortcutBinding refused[] = {
        { ShortcutGesture::holdModifiers, controlOption, std::nullopt },
        { ShortcutGesture::doubleTapModifiers, controlOption, std::nullopt },
        { ShortcutGesture::keyComboPress, controlOption, std::nullopt },
    };
    for (const auto& binding : refused) {
        try {
            m_monitor->registerBinding(binding, [] {});
            FAIL() << "registered";
        } catch (const HotKeyMonitorError& error) {
            EXPECT_EQ(error.code(), -50);
        }
    }
    EXPECT_TRUE(m_grabber->grabs.empty());
}

TEST_F(HotKeyMonitorTest, PressesCloserThanTheIntervalTriggerOnce)
{
    m_monitor->registerBinding(ShortcutBinding::defaultHandsFreeToggle, [this] { ++m_triggers; });
    m_grabber->pressGrabbed(49, controlOption);
    m_clock.advance(500ms);
    m_grabber->pressGrabbed(49, controlOption);
    EXPECT_EQ(m_triggers, 1);
    m_clock.advance(300ms);
    m_grabber->pressGrabbed(49, controlOption);
    EXPECT_EQ(m_triggers, 2);
}

TEST_F(HotKeyMonitorTest, SecondRegistrationReplacesTheFirst)
{
    m_monitor->registerBinding(
        { ShortcutGesture::keyComboPress, controlOption, quint16(40) }, [this] { ++m_triggers; });
    m_monitor->registerBinding(ShortcutBinding::defaultHandsFreeToggle, [this] { m_triggers += 10; });
    m_grabber->pressGrabbed(40, controlOption);
    EXPECT_EQ(m_triggers, 0);
    m_grabber->pressGrabbed(49, controlOption);
    EXPECT_EQ(m_triggers, 10);
    const std::vector<FakeKeyGrabber::Grab> expected { { 49, controlOption } };
    EXPECT_EQ(m_grabber->grabs, expected);
}

TEST_F(HotKeyMonitorTest, RefusedGrabIsThrownAndUnregisterReleases)
{
    m_grabber->refused = { { 49, controlOption } };
    try {
        m_monitor->registerBinding(ShortcutBinding::defaultHandsFreeToggle, [] {});
        FAIL() << "registered";
    } catch (const HotKeyMonitorError& error) {
        EXPECT_EQ(error.code(), HotKeyMonitorError::registrationFailed);
        EXPECT_EQ(error.localizedDescription(), "Another application already uses this key combination.");
    }
    m_grabber->refused.clear();
    m_monitor->registerBinding(ShortcutBinding::defaultHandsFreeToggle, [] {});
    m_monitor->unregister();
    EXPECT_TRUE(m_grabber->grabs.empty());
}

} // namespace
