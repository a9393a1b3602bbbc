#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "audio/AudioCaptureService.h"
#include "audio/AudioDeviceMonitor.h"
#include "support/audio/FakeAudioSystem.h"

using tessvale::AudioCaptureService;
using tessvale::AudioDeviceMonitor;
using tessvale::AudioInputDevice;
using tessvale::testing::FakeAudioSystem;

namespace {

void processEventsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

} // namespace

TEST(AudioDeviceList, DefaultComesFirstThenNamesIgnoringCase)
{
    FakeAudioSystem system;
    system.deviceList = { { "z", "zeta", 1 }, { "a", "Alpha", 2 }, { "d", "Zebra Default", 1 }, { "m", "mid", 1 } };
    system.defaultUID = "d";
    const QList<AudioInputDevice> devices = AudioCaptureService::availableInputDevices(system);
    EXPECT_EQ(devices,
        (QList<AudioInputDevice> { { "d", "Zebra Default" }, { "a", "Alpha" }, { "m", "mid" }, { "z", "zeta" } }));
}

TEST(AudioDeviceList, WithoutADefaultAllAreSortedByName)
{
    FakeAudioSystem system;
    system.deviceList = { { "z", "zeta", 1 }, { "a", "Alpha", 1 } };
    EXPECT_EQ(AudioCaptureService::availableInputDevices(system),
        (QList<AudioInputDevice> { { "a", "Alpha" }, { "z", "zeta" } }));
    system.defaultUID = "not-listed";
    EXPECT_EQ(AudioCaptureService::availableInputDevices(system),
        (QList<AudioInputDevice> { { "a", "Alpha" }, { "z", "zeta" } }));
}

TEST(AudioDeviceList, DevicesWithoutInputChannelsOrIdentityAreLeftOut)
{
    FakeAudioSystem system;
    system.deviceList
        = { { "speakers", "Speakers", 0 }, { "", "Nameless uid", 1 }, { "x", "", 1 }, { "mic", "Microphone", 1 } };
    system.defaultUID = "speakers";
    EXPECT_EQ(
        AudioCaptureService::availableInputDevices(system), (QList<AudioInputDevice> { { "mic", "Microphone" } }));
}

TEST(AudioDeviceMonitorBehaviour, EveryChangeCallsBackOnceOnTheMainThread)
{
    auto system = std::make_shared<FakeAudioSystem>();
    int calls = 0;
    bool onMainThread = true;
    AudioDeviceMonitor monitor(
        [&] {
            ++calls;
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        },
        system);
    EXPECT_EQ(system->subscriberCount(), 0);
    system->notifyChanged();
    processEventsFor(50);
    EXPECT_EQ(calls, 0);

    monitor.start();
    monitor.start();
    EXPECT_TRUE(monitor.isMonitoring());
    EXPECT_EQ(system->subscriberCount(), 1);
    system->notifyChanged();
    system->notifyChanged();
    std::thread serverThread([&] { system->notifyChanged(); });
    serverThread.join();
    // Never inline: the callback waits for the event loop.
    EXPECT_EQ(calls, 0);
    processEventsFor(50);
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(onMainThread);

    monitor.stop();
    monitor.stop();
    EXPECT_FALSE(monitor.isMonitoring());
    EXPECT_EQ(system->subscriberCount(), 0);
    system->notifyChanged();
    processEventsFor(50);
    EXPECT_EQ(calls, 3);
}

TEST(AudioDeviceMonitorBehaviour, DestroyedMonitorDropsQueuedCallbacks)
{
    auto system = std::make_shared<FakeAudioSystem>();
    int calls = 0;
    {
        AudioDeviceMonitor monitor([&] { ++calls; }, system);
        monitor.start();
        system->notifyChanged();
    }
    EXPECT_EQ(system->subscriberCount(), 0);
    processEventsFor(50);
    EXPECT_EQ(calls, 0);
}
