#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "cloud/CloudClientError.h"
#include "coordinator/DictationCoordinatorTestAccess.h"
#include "hud/DictationHUDWaveformView.h"
#include "hud/DictationHUDWindowController.h"
#include "support/coordinator/CoordinatorHarness.h"

using namespace tessvale;

namespace {

struct HudFixture
{
    explicit HudFixture(bool compositing)
        : hud(
            h.coordinator(), [](const QString&) { return QIcon(); }, &h.sleeper())
    {
        hud.setCompositorProbe([compositing] { return compositing; });
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
    DictationHUDWindowController hud;
};

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

// Signed out by a rejected key, a shortcut press shows why and where to sign in for a moment,
// without the focus; a click on it opens the setup window.
TEST(HudWindow, AShortcutPressThatCannotStartShowsTheErrorForAMoment)
{
    HudFixture f(false);
    int setups = 0;
    f.hud.setShowSetup([&] { ++setups; });
    f.h.prepareDictation();
    f.h.meAnswer.error = errorOf(CloudClientError::requestFailed(401, QStringLiteral("no")));
    f.h.coordinator().startPushToTalk();
    f.h.settle();
    ASSERT_EQ(f.h.coordinator().phase(), DictationPhase::signedOut);
    EXPECT_FALSE(f.visible());
    QWidget focused;
    focused.show();
    focused.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&focused));

    for (bool click : { false, true }) {
        SCOPED_TRACE(click ? "clicked" : "timed out");
        f.hud.watchShortcutStart();
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
            f.h.advance(DictationHUDWindowController::startFailureShownFor - std::chrono::milliseconds(100));
            EXPECT_TRUE(f.visible());
            f.h.advance(std::chrono::milliseconds(100));
            EXPECT_EQ(setups, 0);
        }
        EXPECT_FALSE(f.visible());
        EXPECT_FALSE(f.hud.isShowingStartFailure());
        EXPECT_EQ(f.hud.view()->titleLabel()->text(), "Error");
    }
}
