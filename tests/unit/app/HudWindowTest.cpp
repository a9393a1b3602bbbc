#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QAbstractAnimation>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QWindow>

#include "cloud/CloudClientError.h"
#include "cloud/CloudTransportError.h"
#include "cloud/ServerStreamMessage.h"
#include "coordinator/DictationCoordinatorTestAccess.h"
#include "hud/DictationHUDWaveformView.h"
#include "hud/DictationHUDWindowController.h"
#include "insertion/TextInsertionTypes.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

namespace {

struct HudFixture
{
    // before runs ahead of the coordinator; wired: the coordinator waits for this window, not the fake.
    explicit HudFixture(bool compositing, std::function<void(CoordinatorHarness&)> before = {}, bool wired = false)
        : hud(build(compositing, std::move(before), wired))
    {
    }

    DictationHUDWindowController& build(bool compositing, std::function<void(CoordinatorHarness&)> before, bool wired)
    {
        if (before)
            before(h);
        if (wired) {
            h.useHUD([this](CancelToken token) { return m_hud->shownForDictation(std::move(token)); },
                [this] { return visible() && m_hud->window()->windowHandle()->isExposed(); });
        }
        m_hud = std::make_unique<DictationHUDWindowController>(h.coordinator(), [](const QString&) { return QIcon(); });
        m_hud->setCompositorProbe([compositing] { return compositing; });
        return *m_hud;
    }

    void setPhase(DictationPhase phase)
    {
        DictationCoordinatorTestAccess::setPhase(h.coordinator(), phase);
        h.settle();
    }

    bool visible() const { return hud.window()->isVisible(); }

    bool anythingRunning() const
    {
        for (const QAbstractAnimation* animation : hud.findChildren<QAbstractAnimation*>())
            if (animation->state() != QAbstractAnimation::Stopped)
                return true;
        return hud.view()->waveform()->isAnimating();
    }

    CoordinatorHarness h;
    std::unique_ptr<DictationHUDWindowController> m_hud;
    DictationHUDWindowController& hud;
};

void prepare(CoordinatorHarness& h)
{
    h.prepareDictation();
}

} // namespace

TEST(HudWindow, FollowsThePhaseWithoutACompositorAtOnce)
{
    HudFixture f(false);
    // The first update at start-up finds nothing to hide.
    f.hud.updateVisibility(false);
    EXPECT_EQ(f.hud.visibilityGeneration(), 0);
    f.h.settle();
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(f.hud.visibilityGeneration(), 0);

    f.setPhase(DictationPhase::recording);
    ASSERT_TRUE(f.visible());
    EXPECT_EQ(f.hud.window()->windowOpacity(), 1.0);
    // Cut to the capsule: the corners are outside, the middle inside.
    EXPECT_FALSE(f.hud.window()->mask().contains(QPoint(1, 1)));
    EXPECT_TRUE(f.hud.window()->mask().contains(QPoint(210, 1)));
    EXPECT_EQ(f.hud.window()->size(), DictationHUDView::hudSize);
    EXPECT_TRUE(f.hud.view()->waveform()->isAnimating());

    f.setPhase(DictationPhase::ready);
    EXPECT_FALSE(f.visible());
    EXPECT_FALSE(f.anythingRunning());
}

TEST(HudWindow, FadesWithACompositorAndOnlyTheLatestFadeOutHides)
{
    using Hud = DictationHUDWindowController;
    HudFixture f(true);
    f.hud.setManualFadeClock(true);
    f.h.settle();
    f.setPhase(DictationPhase::recording);
    ASSERT_TRUE(f.visible());
    EXPECT_TRUE(f.hud.window()->mask().isEmpty());
    EXPECT_EQ(f.hud.window()->windowOpacity(), 0.0);
    f.hud.advanceFade(Hud::fadeInMs);
    EXPECT_EQ(f.hud.window()->windowOpacity(), 1.0);
    // Translucent, it has room around the capsule for the shadow, which falls below it.
    EXPECT_EQ(f.hud.view()->size(), DictationHUDView::hudSize);
    ASSERT_GT(f.hud.window()->height(), f.hud.view()->geometry().bottom() + 8);
    const QImage window = f.hud.window()->grab().toImage();
    const QPoint below(window.width() / 2, f.hud.view()->geometry().bottom() + 8);
    EXPECT_GT(window.pixelColor(below * window.devicePixelRatio()).alpha(), 0);
    EXPECT_EQ(window.pixelColor(0, 0).alpha(), 0);

    // A show during the fade-out leaves it shown at full opacity.
    f.setPhase(DictationPhase::ready);
    f.hud.advanceFade(Hud::fadeOutMs / 2);
    EXPECT_LT(f.hud.window()->windowOpacity(), 1.0);
    f.setPhase(DictationPhase::recording);
    f.hud.advanceFade(Hud::fadeOutMs);
    f.h.settle();
    EXPECT_TRUE(f.visible());
    EXPECT_EQ(f.hud.window()->windowOpacity(), 1.0);

    // Of two hides in a row only the second one's end hides it.
    f.setPhase(DictationPhase::ready);
    f.hud.advanceFade(Hud::fadeOutMs / 2);
    f.hud.hide(true);
    f.hud.advanceFade(Hud::fadeOutMs * 3 / 4);
    f.h.settle();
    EXPECT_TRUE(f.visible()) << "past the first fade's end, within the second's";
    f.hud.advanceFade(Hud::fadeOutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!f.visible(), 60000);
    EXPECT_EQ(f.hud.window()->windowOpacity(), 1.0);
    f.h.settle();
    EXPECT_FALSE(f.anythingRunning());
}

// The microphone opens only once the window is on screen: the invariant checks the window at the
// recorder's start.
TEST(HudWindow, TheMicrophoneOpensOnlyOnceTheWindowIsOnScreen)
{
    for (bool compositing : { false, true }) {
        SCOPED_TRACE(compositing ? "compositing" : "plain");
        HudFixture f(compositing, prepare, true);
        f.h.settle();
        f.h.coordinator().toggleHandsFree();
        // The X server's expose ends the wait; the virtual clock that bounds it stands still.
        QTRY_VERIFY_WITH_TIMEOUT(f.h.fakeRecorder.running, 60000);
        EXPECT_TRUE(f.hud.window()->windowHandle()->isExposed());
        f.h.coordinator().toggleHandsFree();
        f.h.settle();
        f.h.advance(f.h.services().timing.stopCaptureGracePeriod);
        EXPECT_FALSE(f.h.fakeRecorder.running);
    }
}

// A rejected key at the stream's opening signs out: the press shows why and where to sign in for a
// moment, without the focus, and so does the next press that finds no key; a click on it opens the
// setup window.
TEST(HudWindow, APressThatCannotDictateShowsWhyForAMoment)
{
    HudFixture f(false, [](CoordinatorHarness& h) {
        h.prepareDictation();
        h.streamSendFailure = [](const ClientStreamMessage& message) {
            return message.messageCase() == ClientStreamMessage::Case::startSession
                ? errorOf(CloudTransportError::refusedOpening(401))
                : std::exception_ptr();
        };
    });
    int setups = 0;
    f.hud.setShowSetup([&] { ++setups; });
    QWidget focused;
    focused.show();
    focused.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&focused));
    const auto failureTime = f.h.services().timing.failureShownFor;

    f.h.coordinator().startPushToTalk();
    f.h.settle();
    ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::signedOut);
    ASSERT_TRUE(f.visible()) << "signed out by the opening's 401 without a word";
    EXPECT_TRUE(f.hud.isShowingStartFailure());
    EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Sign in from the tray to dictate");
    EXPECT_EQ(f.hud.view()->subtitleLabel()->text(), f.h.coordinator().displayErrorText());
    EXPECT_EQ(QApplication::activeWindow(), &focused);
    f.h.advance(failureTime);
    EXPECT_FALSE(f.visible());

    for (bool click : { false, true }) {
        SCOPED_TRACE(click ? "clicked" : "timed out");
        f.h.coordinator().startPushToTalk();
        f.h.settle();
        ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::error);
        ASSERT_TRUE(f.visible());
        EXPECT_TRUE(f.hud.isShowingStartFailure());
        EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Sign in from the tray to dictate");
        EXPECT_EQ(f.hud.view()->subtitleLabel()->text(), f.h.coordinator().displayErrorText());
        EXPECT_EQ(QApplication::activeWindow(), &focused);
        if (click) {
            QTest::mouseClick(f.hud.view(), Qt::LeftButton);
            f.h.settle();
            EXPECT_EQ(setups, 1);
        } else {
            f.h.advance(failureTime - std::chrono::milliseconds(100));
            EXPECT_TRUE(f.visible());
            f.h.advance(std::chrono::milliseconds(100));
            EXPECT_EQ(setups, 0);
        }
        EXPECT_FALSE(f.visible());
        EXPECT_FALSE(f.hud.isShowingStartFailure());
        EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Error");
    }
}

// A lost stream and a failed insertion say so in the window; the insertion's says how to retry, and a
// click on it retries.
TEST(HudWindow, ADictationEndedByAFailureShowsWhyAndAFailedInsertionItsRetry)
{
    HudFixture f(false, prepare);
    f.h.openDictation(true);
    f.h.stream().terminate();
    f.h.settle();
    ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::error);
    EXPECT_TRUE(f.visible()) << "the stream was lost and the window vanished";
    EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Error");
    EXPECT_EQ(f.hud.view()->subtitleLabel()->text(), f.h.coordinator().displayErrorText());
    f.h.advance(f.h.services().timing.failureShownFor);
    EXPECT_FALSE(f.visible());

    f.h.insertionError = errorOf(TextInsertionError(TextInsertionError::Case::transcriptNotDelivered));
    const QUuid id = f.h.openDictation();
    f.h.deliver(ServerStreamMessage::transcriptCommitted({ id, QStringLiteral("Hello there.") }));
    ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::error);
    ASSERT_TRUE(f.visible()) << "the insertion failed and the window said nothing";
    EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Retry Insert");
    EXPECT_EQ(f.hud.view()->subtitleLabel()->text(), f.h.coordinator().displayErrorText());
    f.h.insertionError = nullptr;
    QTest::mouseClick(f.hud.view(), Qt::LeftButton);
    f.h.settle();
    EXPECT_EQ(f.h.insertions.size(), 2);
    EXPECT_EQ(f.h.coordinator().phase(), DictationPhase::ready);
    EXPECT_FALSE(f.visible());
}
