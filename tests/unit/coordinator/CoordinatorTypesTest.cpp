#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "audio/AudioCaptureService.h"
#include "coordinator/CoordinatorSeams.h"
#include "coordinator/CoordinatorTypes.h"
#include "support/audio/CaptureRecorder.h"
#include "support/audio/FakeAudioSystem.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

TEST(CoordinatorTypes, TriggerModesReadOnlyTheirExactRawValues)
{
    EXPECT_EQ(dictationTriggerModeFromRawValue("pushToTalk"), DictationTriggerMode::pushToTalk);
    EXPECT_EQ(dictationTriggerModeFromRawValue("handsFree"), DictationTriggerMode::handsFree);
    for (const QString raw : { "PushToTalk", "", "handsfree", " handsFree" })
        EXPECT_EQ(dictationTriggerModeFromRawValue(raw), std::nullopt) << raw.toStdString();
}

TEST(LiveRecorderClient, CarriesTheEndOfARecordingThatNobodyStopped)
{
    const auto system = std::make_shared<tessvale::testing::FakeAudioSystem>();
    system->deviceList = { { "mic", "Built-in Microphone", 1 } };
    system->defaultUID = "mic";
    AudioCaptureService service(system);
    const RecorderClient recorder = liveRecorderClient(service);
    tessvale::testing::CaptureRecorder events;

    recorder.start(std::nullopt, events.chunkHandler(), events.levelHandler(), events.endedHandler());
    EXPECT_TRUE(recorder.isRunning());
    ASSERT_TRUE(system->deliver(tessvale::testing::constantPcm16(2000, 100)));
    system->removeActiveDevice("the device was removed");
    ASSERT_TRUE(events.waitForEnd(60s));
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_EQ(events.ends(), QStringList { "Built-in Microphone: the device was removed" });
    // What was held back still comes out of stop().
    EXPECT_EQ(events.chunks().size(), 1);
    const QList<QByteArray> leftovers = recorder.stop();
    ASSERT_EQ(leftovers.size(), 1);
    EXPECT_EQ(leftovers[0].size(), 4000 - AudioCaptureService::bytesPerChunk);
}

} // namespace
