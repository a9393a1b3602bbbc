#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "coordinator/CoordinatorSeams.h"
#include "platform/PlatformServices.h"
#include "support/Skips.h"
#include "support/cloud/FakeCloudFixture.h"
#include "support/coordinator/CoordinatorHarness.h"
#include "support/coordinator/ShortcutWiring.h"

// X11 headers last: they define macros (Status, Bool, None) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace std::chrono_literals;

namespace tessvale {
namespace {

using Action = DictationShortcutAction;

// The user presses the hands-free combination (Control + Alt + Space) on the real keyboard path:
// XTest into the X server, the real shortcut engine on the real clock, the real coordinator on the
// real clock over the real streaming connection to the fake service. Only the recorder and the
// inserter are fakes.
class HandsFreeShortcutE2ETest : public FakeCloudFixture, public ::testing::WithParamInterface<int>
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            TESSVALE_SKIP_WITHOUT_DESKTOP() << "needs the X server of scripts/test-env";
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        FakeCloudFixture::SetUp();
        server().stream().setCloseAfterCompletion(true);
        h.prepareDictation();
        h.services().sleeper = &Sleeper::system();
        CloudWebSocketSession::Options options;
        options.sslConfiguration = clientSsl();
        h.services().webSocketFactory = cloudWebSocketTransportFactory(options);
        h.configAnswer.value->webSocketURL = server().stream().url();
        m_platform = makePlatformServices();
        m_engine = testing::makeShortcutEngine(h.coordinator(), m_platform, [this](Action a) { actions.push_back(a); });
        m_engine->start();
        spinEventLoop(50ms);
    }

    void TearDown() override
    {
        if (m_display) {
            for (KeySym key : { XK_space, XK_Alt_L, XK_Control_L })
                send(key, false);
            XCloseDisplay(m_display);
        }
        m_engine.reset();
        FakeCloudFixture::TearDown();
    }

    void send(KeySym keysym, bool press)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, keysym), press ? True : False, CurrentTime);
        XSync(m_display, False);
    }
    void down(KeySym keysym) { send(keysym, true); }
    void up(KeySym keysym) { send(keysym, false); }

    int stopSessionsReceived()
    {
        int stops = 0;
        for (int i = 0; i < server().stream().connectionCount(); ++i) {
            for (const QString& text : server().stream().connection(i).textFrames) {
                const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
                stops += envelope.value(QStringLiteral("Case")).toString() == QStringLiteral("StopSession");
            }
        }
        return stops;
    }

    DictationCoordinator& c() { return h.coordinator(); }

    CoordinatorHarness h;
    std::vector<Action> actions;

private:
    Display* m_display = nullptr;
    PlatformServices m_platform;
    std::unique_ptr<DictationShortcutEngine> m_engine;
};

TEST_P(HandsFreeShortcutE2ETest, TheCombinationAgainEndsTheDictationAndStartsNoNewOne)
{
    const auto keyDelay = std::chrono::milliseconds(GetParam());
    down(XK_Control_L);
    down(XK_Alt_L);
    down(XK_space);
    up(XK_space);
    up(XK_Alt_L);
    up(XK_Control_L);
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::recording; }, 60s));
    ASSERT_EQ(actions, std::vector<Action> { Action::toggleHandsFree });
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            h.fakeRecorder.chunk(QByteArray(3200, 'a'));
    });
    worker.join();
    spinEventLoop(50ms);

    // The modifiers end the dictation at once; the combination's key follows keyDelay later.
    down(XK_Control_L);
    down(XK_Alt_L);
    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::finalizing; }, 60s));
    spinEventLoop(keyDelay);
    down(XK_space);
    up(XK_space);
    up(XK_Alt_L);
    up(XK_Control_L);

    ASSERT_TRUE(waitUntil([&] { return c().phase() == DictationPhase::ready && !h.insertions.isEmpty(); }, 60s));
    spinEventLoop(400ms);
    // The key finishes the press that ended the dictation: it neither toggles nor starts one, whether
    // it came while the session was finalizing or after it had ended.
    EXPECT_EQ(actions, (std::vector<Action> { Action::toggleHandsFree, Action::toggleHandsFree }));
    EXPECT_EQ(c().phase(), DictationPhase::ready);
    EXPECT_EQ(server().stream().connectionCount(), 1);
    EXPECT_EQ(stopSessionsReceived(), 1);
    EXPECT_EQ(h.fakeRecorder.starts, 1);
    EXPECT_EQ(h.insertions.size(), 1);
    EXPECT_FALSE(h.fakeRecorder.running);
}

INSTANTIATE_TEST_SUITE_P(KeyDelays, HandsFreeShortcutE2ETest, ::testing::Values(13, 180),
    [](const auto& row) { return std::to_string(row.param) + "ms"; });

} // namespace
} // namespace tessvale
