#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include <QElapsedTimer>
#include <QFile>

#include "PulseTestTools.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioDeviceMonitor.h"
#include "platform/audio/AudioSystem.h"
#include "platform/linux/audio/LinuxAudioSystem.h"
#include "platform/linux/audio/PulseAudioServer.h"
#include "platform/linux/system/PulseMicrophoneAuthorizer.h"
#include "support/audio/CaptureRecorder.h"

using tessvale::testing::desktopAudio;
using namespace std::chrono_literals;
using tessvale::AudioCaptureService;
using tessvale::AudioDeviceMonitor;
using tessvale::testing::CaptureRecorder;
using tessvale::testing::temporaryPath;

namespace {

// Far below the half minute libpulse waits on its own, far above a healthy server's answer.
constexpr qint64 boundMs = 5000;

// A sound server that takes every connection (the kernel's backlog does) and never says a word.
class SilentSoundServer
{
public:
    SilentSoundServer()
        : m_path(temporaryPath("silent.socket"))
    {
        QFile::remove(m_path);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.toUtf8().constData(), sizeof(address.sun_path) - 1);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(m_fd, 64) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        qputenv("PULSE_SERVER", ("unix:" + m_path).toUtf8());
    }
    ~SilentSoundServer()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        QFile::remove(m_path);
    }

    bool listening() const { return m_fd >= 0; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace

TEST(SilentSoundServer, DeviceListMonitorAndRecordingEachGiveUpInTime)
{
    SilentSoundServer server;
    ASSERT_TRUE(server.listening());
    QElapsedTimer timer;

    timer.start();
    EXPECT_TRUE(AudioCaptureService::availableInputDevices(*desktopAudio()).isEmpty());
    EXPECT_LT(timer.elapsed(), boundMs) << "listing devices";

    timer.restart();
    AudioDeviceMonitor monitor([] {}, desktopAudio());
    monitor.start();
    EXPECT_LT(timer.elapsed(), boundMs) << "starting the device monitor";
    EXPECT_TRUE(monitor.isMonitoring());

    timer.restart();
    CaptureRecorder recorder;
    AudioCaptureService service(desktopAudio());
    try {
        service.start(std::nullopt, recorder.chunkHandler(), recorder.levelHandler());
        ADD_FAILURE() << "recording started on a server that never answered";
    } catch (const tessvale::AudioEngineError& error) {
        EXPECT_STREQ(error.what(), "Unable to start the microphone: the sound server is not answering.");
    }
    EXPECT_LT(timer.elapsed(), boundMs) << "starting a recording";
    EXPECT_FALSE(service.isRunning());
}

TEST(SilentSoundServer, WhatAStartAsksOfItWaitsLessThanOneAnswerInAll)
{
    SilentSoundServer server;
    ASSERT_TRUE(server.listening());
    QElapsedTimer timer;
    timer.start();
    // What the application asks at its start: the microphone, the devices, their changes, the
    // microphone again.
    const auto audio = std::make_shared<tessvale::LinuxAudioSystem>();
    tessvale::PulseMicrophoneAuthorizer microphone(audio->server());
    EXPECT_EQ(microphone.check(), tessvale::MicrophoneAuthorizationStatus::denied);
    EXPECT_TRUE(AudioCaptureService::availableInputDevices(*audio).isEmpty());
    AudioDeviceMonitor monitor([] {}, audio);
    monitor.start();
    QString reason;
    EXPECT_EQ(microphone.check(&reason), tessvale::MicrophoneAuthorizationStatus::denied);
    EXPECT_EQ(reason, "The sound server did not answer in time.");
    EXPECT_LT(timer.elapsed(), tessvale::PulseAudioServer::answerTimeout.count());
}
