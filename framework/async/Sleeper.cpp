#include "async/Sleeper.h"

#include <algorithm>

#include <QTimer>

namespace tessvale {

namespace {

struct DeleteLater
{
    void operator()(QObject* object) const { object->deleteLater(); }
};

} // namespace

Sleeper& Sleeper::system()
{
    static RealSleeper sleeper;
    return sleeper;
}

QCoro::Task<> RealSleeper::sleep(Duration duration, CancelToken token)
{
    token.throwIfCancelled();
    OneShot<> done;
    // The timer is deleted later: the coroutine resumes inside its timeout signal.
    std::unique_ptr<QTimer, DeleteLater> timer(new QTimer);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, [done]() mutable { done.resolve(); });
    auto registration = token.onCancel(timer.get(), [done]() mutable { done.fail(CancelledError()); });
    timer->start(std::chrono::ceil<std::chrono::milliseconds>(std::max(duration, Duration::zero())));
    co_await done;
    // The timer may fire after cancel() and before its posted callback runs.
    token.throwIfCancelled();
}

MonotonicTime RealSleeper::now() const
{
    return std::chrono::steady_clock::now().time_since_epoch();
}

ManualSleeper::ManualSleeper(QObject* parent)
    : QObject(parent)
{
}

ManualSleeper::~ManualSleeper()
{
    auto waiters = std::move(m_waiters);
    m_waiters.clear();
    for (auto& waiter : waiters)
        waiter->done.fail(CancelledError());
}

QCoro::Task<> ManualSleeper::sleep(Duration duration, CancelToken token)
{
    token.throwIfCancelled();
    auto waiter
        = std::make_shared<Waiter>(Waiter { m_now + std::max(duration, Duration::zero()), m_nextSequence++, {} });
    m_waiters.push_back(waiter);
    auto registration = token.onCancel(this, [this, waiter]() {
        remove(waiter);
        waiter->done.fail(CancelledError());
    });
    co_await waiter->done;
    // advance() may wake it after cancel() and before the posted callback runs.
    token.throwIfCancelled();
}

void ManualSleeper::advance(Duration duration)
{
    const MonotonicTime target = m_now + duration;
    while (true) {
        auto next = std::min_element(m_waiters.begin(), m_waiters.end(), [](const auto& a, const auto& b) {
            return a->deadline != b->deadline ? a->deadline < b->deadline : a->sequence < b->sequence;
        });
        if (next == m_waiters.end() || (*next)->deadline > target)
            break;
        auto waiter = *next;
        m_waiters.erase(next);
        m_now = std::max(m_now, waiter->deadline);
        waiter->done.resolve();
    }
    // A woken sleeper may have advanced the clock further itself (a fake blocking call).
    m_now = std::max(m_now, target);
}

void ManualSleeper::remove(const std::shared_ptr<Waiter>& waiter)
{
    std::erase(m_waiters, waiter);
}

} // namespace tessvale
