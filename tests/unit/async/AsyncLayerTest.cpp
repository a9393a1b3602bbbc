#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <vector>

#include "async/AwaitSignal.h"
#include "async/OneShot.h"
#include "async/Sleeper.h"
#include "async/Spawn.h"
#include "base/Logging.h"

using namespace tessvale;
using namespace std::chrono_literals;

namespace {

void drainEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QCoro::Task<> record(std::vector<int>* out, int value)
{
    out->push_back(value);
    co_return;
}

struct SleepOutcome
{
    bool finished = false;
    bool cancelled = false;
};

QCoro::Task<> sleepAndReport(Sleeper* sleeper, Duration duration, CancelToken token, SleepOutcome* outcome)
{
    try {
        co_await sleeper->sleep(duration, token);
        outcome->finished = true;
    } catch (const CancelledError&) {
        outcome->cancelled = true;
    }
}

QCoro::Task<> sleepThenRecord(Sleeper* sleeper, Duration duration, std::vector<int>* out, int value)
{
    co_await sleeper->sleep(duration);
    out->push_back(value);
}

} // namespace

TEST(SpawnOnMain, RunsAfterTheCallerReturnsInPostingOrder)
{
    QObject context;
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        spawnOnMain(&context, [&order, i](CancelToken) { return record(&order, i); });
    order.push_back(-1);
    drainEvents();
    EXPECT_EQ(order, (std::vector<int> { -1, 0, 1, 2, 3, 4 }));
}

TEST(SpawnOnMain, IsDroppedWhenItsContextIsGoneBeforeItRuns)
{
    std::vector<int> order;
    auto context = std::make_unique<QObject>();
    auto handle = spawnOnMain(context.get(), [&order](CancelToken) { return record(&order, 1); });
    context.reset();
    drainEvents();
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(handle.isFinished());
}

TEST(SpawnOnMain, LogsAnExceptionThatEscapesTheBody)
{
    static QStringList captured;
    captured.clear();
    auto previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { captured << message; });
    QObject context;
    auto handle = spawnOnMain(
        &context, [](CancelToken) -> QCoro::Task<> { throw std::runtime_error("boom in body"); },
        QStringLiteral("explode"));
    drainEvents();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(handle.isFinished());
    ASSERT_EQ(captured.size(), 1);
    EXPECT_TRUE(captured.first().contains("explode"));
    EXPECT_TRUE(captured.first().contains("boom in body"));
}

namespace {

// Owns a timer field; the timer's body cancels and replaces the very handle that refers to it.
class SelfCancellingOwner : public QObject
{
public:
    explicit SelfCancellingOwner(Sleeper* sleeper)
        : m_sleeper(sleeper)
    {
    }

    void arm()
    {
        m_timer = spawnOnMain(
            this, [this](CancelToken token) { return run(token); }, QStringLiteral("self-cancel"));
    }

    bool reachedEnd = false;
    int stepsAfterCancel = 0;

private:
    QCoro::Task<> run(CancelToken token)
    {
        m_timer.cancel();
        m_timer = TaskHandle();
        // The task's own token is cancelled now, but work that does not await it goes on.
        co_await m_sleeper->sleep(1ms);
        ++stepsAfterCancel;
        reachedEnd = token.isCancelled();
    }

    Sleeper* m_sleeper;
    TaskHandle m_timer;
};

} // namespace

TEST(SpawnOnMain, TaskThatCancelsItsOwnHandleRunsToItsEnd)
{
    ManualSleeper sleeper;
    SelfCancellingOwner owner(&sleeper);
    owner.arm();
    drainEvents();
    sleeper.advance(1ms);
    drainEvents();
    EXPECT_EQ(owner.stepsAfterCancel, 1);
    EXPECT_TRUE(owner.reachedEnd);
}

TEST(Cancellation, CancelDoesNotResumeInlineAndPendingSleepThrows)
{
    ManualSleeper sleeper;
    CancelSource source;
    SleepOutcome outcome;
    auto task = sleepAndReport(&sleeper, 10s, source.token(), &outcome);
    source.cancel();
    EXPECT_FALSE(outcome.cancelled) << "cancel() resumed the sleeper inline";
    drainEvents();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.finished);
    EXPECT_EQ(sleeper.pendingSleepers(), 0);
}

TEST(Cancellation, EveryLaterSleepThrowsAtOnce)
{
    ManualSleeper sleeper;
    CancelSource source;
    source.cancel();
    for (int i = 0; i < 3; ++i) {
        SleepOutcome outcome;
        auto task = sleepAndReport(&sleeper, 1ms, source.token(), &outcome);
        EXPECT_TRUE(outcome.cancelled);
    }
    EXPECT_EQ(sleeper.pendingSleepers(), 0);
}

TEST(Cancellation, RealSleeperCancelsWithoutWaitingForTheTimer)
{
    RealSleeper sleeper;
    CancelSource source;
    SleepOutcome outcome;
    auto task = sleepAndReport(&sleeper, 60s, source.token(), &outcome);
    QTimer::singleShot(5, [&source] { source.cancel(); });
    QElapsedTimer elapsed;
    elapsed.start();
    while (!outcome.cancelled && elapsed.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_LT(elapsed.elapsed(), 1000);
}

TEST(ManualClock, WakesDueSleepersInDeadlineOrder)
{
    ManualSleeper sleeper;
    std::vector<int> order;
    auto a = sleepThenRecord(&sleeper, 300ms, &order, 3);
    auto b = sleepThenRecord(&sleeper, 100ms, &order, 1);
    auto c = sleepThenRecord(&sleeper, 200ms, &order, 2);
    auto d = sleepThenRecord(&sleeper, 500ms, &order, 5);
    sleeper.advance(250ms);
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(sleeper.now(), MonotonicTime(250ms));
    sleeper.advance(100ms);
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ(sleeper.pendingSleepers(), 1);
}

namespace {
QCoro::Task<> chainedSleeps(Sleeper* sleeper, std::vector<MonotonicTime>* wakes)
{
    co_await sleeper->sleep(100ms);
    wakes->push_back(sleeper->now());
    co_await sleeper->sleep(100ms);
    wakes->push_back(sleeper->now());
}
} // namespace

TEST(ManualClock, SleepStartedByAWokenSleeperWakesWithinTheSameAdvance)
{
    ManualSleeper sleeper;
    std::vector<MonotonicTime> wakes;
    auto task = chainedSleeps(&sleeper, &wakes);
    sleeper.advance(1s);
    EXPECT_EQ(wakes, (std::vector<MonotonicTime> { 100ms, 200ms }));
}

namespace {
QCoro::Task<int> awaitValue(OneShot<int> shot)
{
    co_return co_await shot;
}

QCoro::Task<> awaitTimeout(QTimer* timer, CancelToken token, SleepOutcome* outcome)
{
    try {
        co_await awaitSignal(timer, &QTimer::timeout, token);
        outcome->finished = true;
    } catch (const CancelledError&) {
        outcome->cancelled = true;
    }
}
} // namespace

TEST(OneShotBridge, DeliversTheFirstResultOnly)
{
    OneShot<int> shot;
    auto task = awaitValue(shot);
    shot.resolve(7);
    shot.resolve(9);
    shot.fail(std::runtime_error("late"));
    EXPECT_EQ(QCoro::waitFor(task), 7);
}

TEST(OneShotBridge, ResultBeforeAwaitIsNotLost)
{
    OneShot<int> shot;
    shot.resolve(3);
    EXPECT_EQ(QCoro::waitFor(awaitValue(shot)), 3);
}

TEST(OneShotBridge, SignalAwaitResumesOnEmissionAndHonoursCancellation)
{
    QTimer timer;
    SleepOutcome fired;
    auto first = awaitTimeout(&timer, {}, &fired);
    timer.setSingleShot(true);
    timer.start(0);
    drainEvents();
    EXPECT_TRUE(fired.finished);

    CancelSource source;
    SleepOutcome cancelled;
    auto second = awaitTimeout(&timer, source.token(), &cancelled);
    source.cancel();
    drainEvents();
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.finished);
}

TEST(ManualClock, PendingSleepersEndWithCancellationWhenTheClockGoesAway)
{
    SleepOutcome outcome;
    {
        ManualSleeper sleeper;
        auto task = sleepAndReport(&sleeper, 1s, {}, &outcome);
    }
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.finished);
}

TEST(Cancellation, ASleepWhoseTimePassesAfterItsCancelStillThrows)
{
    // The posted cancel callback has not run yet when the deadline passes.
    ManualSleeper manual;
    CancelSource manualSource;
    SleepOutcome manualOutcome;
    auto manualTask = sleepAndReport(&manual, 10ms, manualSource.token(), &manualOutcome);
    manualSource.cancel();
    manual.advance(10ms);
    EXPECT_TRUE(manualOutcome.cancelled);
    EXPECT_FALSE(manualOutcome.finished);

    // A timer started first and due at the same time cancels in the same timer pass.
    RealSleeper real;
    CancelSource realSource;
    SleepOutcome realOutcome;
    QTimer::singleShot(1, Qt::PreciseTimer, [&realSource] { realSource.cancel(); });
    auto realTask = sleepAndReport(&real, 1ms, realSource.token(), &realOutcome);
    QThread::msleep(5);
    drainEvents();
    EXPECT_TRUE(realOutcome.cancelled);
    EXPECT_FALSE(realOutcome.finished);
}

TEST(Cancellation, CombinedTokenIsCancelledAtOnceByEitherSideAndPostsItsCallbacks)
{
    for (bool ownerSide : { true, false }) {
        CancelSource owner;
        CancelSource caller;
        const CancelToken combined = caller.token().combinedWith(owner.token());
        QObject context;
        bool called = false;
        auto registration = combined.onCancel(&context, [&called] { called = true; });
        (ownerSide ? owner : caller).cancel();
        EXPECT_TRUE(combined.isCancelled());
        EXPECT_FALSE(called) << "never inline";
        drainEvents();
        EXPECT_TRUE(called);
        EXPECT_TRUE(caller.token().combinedWith(owner.token()).isCancelled()) << "combined after the cancel";
    }
}
