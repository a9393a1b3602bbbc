// An insertion never outlives its service: teardown ends it with CancelledError, never resumes into
// the freed service, and gives a saved clipboard back first. Run under ASan in CI.
#include "InsertionFixture.h"

using namespace tessvale;
using namespace tessvale::testing;
using namespace std::chrono_literals;

namespace {

class InsertionLifetimeTest : public InsertionFixture
{
protected:
    void reset()
    {
        destroyService();
        SetUp();
        clipboard->copyByUser(ClipboardSelection::clipboard, QStringLiteral("user"));
    }
    const FrontmostApplication otherApp { QStringLiteral("Terminal"), std::nullopt, 99, {}, 8 };
};

TEST_F(InsertionLifetimeTest, ServiceDestroyedWhileItsInsertionSleepsIsNeverResumedInto)
{
    // Asleep in: the activation settle, the modifier wait, the readiness poll, the paste's fetch wait.
    for (int where = 0; where < 4; ++where) {
        reset();
        if (where == 0)
            windows->frontmost = otherApp;
        if (where == 1)
            injector->heldSequence = { { QStringLiteral("Control_L") } };
        auto outcome = start(QStringLiteral("dictated"), where == 0 || where == 2 ? applicationOnlyTarget() : nullptr);
        advance(where == 3 ? 100ms : 10ms);
        ASSERT_FALSE(outcome->done) << where;
        const QStringList sent = injector->events;
        destroyService();
        QCoreApplication::processEvents();
        EXPECT_TRUE(outcome->cancelled()) << where << ": ends without waiting out its sleep";
        advance(5s);
        EXPECT_EQ(injector->events, sent) << where;
        EXPECT_EQ(clipboard->text(ClipboardSelection::clipboard), QStringLiteral("user")) << where;
    }
}

TEST_F(InsertionLifetimeTest, QueuedInsertionEndsWithCancellationWhenTheServiceGoesAway)
{
    reset();
    auto running = start(QStringLiteral("one"));
    auto queued = start(QStringLiteral("two"));
    advance(100ms);
    destroyService();
    EXPECT_TRUE(queued->cancelled());
    QCoreApplication::processEvents();
    EXPECT_TRUE(running->cancelled());
    EXPECT_EQ(injector->events, QStringList { QStringLiteral("paste") });
}

TEST_F(InsertionLifetimeTest, CancellingDuringTheTargetWaitsEndsThemWithoutWaitingThemOut)
{
    // Inside the 0.12 s activation settle, the 0.12 s focus-restore settle and a 0.04 s readiness poll.
    for (Duration at : { Duration(10ms), Duration(130ms), Duration(250ms) }) {
        reset();
        windows->frontmost = otherApp;
        CancelSource source;
        auto outcome = start(QStringLiteral("dictated"), textFieldTarget(), true, false, source.token());
        advance(at);
        ASSERT_FALSE(outcome->done) << at.count();
        source.cancel();
        QCoreApplication::processEvents();
        EXPECT_TRUE(outcome->cancelled()) << at.count();
        EXPECT_TRUE(injector->events.isEmpty());
    }
}

} // namespace
