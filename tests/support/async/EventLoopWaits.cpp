#include "support/async/EventLoopWaits.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace tessvale {

bool waitUntil(std::function<bool()> predicate, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    // The tick bounds each wait so conditions changed by other threads are seen; events wake the loop at once.
    QTimer tick;
    tick.start(10);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void spinEventLoop(std::chrono::milliseconds duration)
{
    waitUntil([] { return false; }, duration);
}

} // namespace tessvale
