#include "support/async/EventLoopWaits.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tessvale {

namespace {

// The tick bounds each wait so conditions changed by other threads are seen; events wake the loop at once.
constexpr int tickMs = 10;

} // namespace

bool waitUntil(std::function<bool()> predicate, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    QTimer tick;
    tick.start(tickMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::chrono::milliseconds spinEventLoop(std::chrono::milliseconds duration)
{
    // A gap much longer than the tick is a stall: it counts as one tick, however long it lasted.
    constexpr qint64 stallMs = 5 * tickMs;
    QElapsedTimer sinceLastRun;
    sinceLastRun.start();
    qint64 counted = 0;
    qint64 longestGap = 0;
    // Bounded, for a machine that never stops stalling.
    const QDeadlineTimer giveUp(std::max(duration * 10, std::chrono::milliseconds(60000)));
    waitUntil(
        [&] {
            const qint64 gap = sinceLastRun.restart();
            longestGap = std::max(longestGap, gap);
            counted += gap > stallMs ? tickMs : gap;
            return counted >= duration.count() || giveUp.hasExpired();
        },
        std::chrono::hours(1));
    return std::chrono::milliseconds(longestGap);
}

} // namespace tessvale
