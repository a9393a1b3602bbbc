#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/OneShot.h"

namespace tessvale {

using Duration = std::chrono::nanoseconds;
// A reading of a monotonic clock (time since an arbitrary start); only differences mean anything.
using MonotonicTime = std::chrono::nanoseconds;

// Every timed wait goes through a Sleeper, so tests can run on virtual time.
class Sleeper
{
public:
    virtual ~Sleeper() = default;

    // Resumes after duration on the calling thread's event loop. Throws CancelledError when token is
    // cancelled before or during the wait; the cancellation never resumes the caller inline.
    virtual QCoro::Task<> sleep(Duration duration, CancelToken token = {}) = 0;
    virtual MonotonicTime now() const = 0;

    // The process-wide real sleeper.
    static Sleeper& system();
};

// Single-shot precise QTimer on the steady clock.
class RealSleeper final : public Sleeper
{
public:
    QCoro::Task<> sleep(Duration duration, CancelToken token = {}) override;
    MonotonicTime now() const override;
};

// Virtual time for tests: nothing wakes until advance() moves the clock past a deadline.
class ManualSleeper final : public QObject, public Sleeper
{
    Q_OBJECT

public:
    explicit ManualSleeper(QObject* parent = nullptr);
    // Sleepers still pending end with CancelledError, so their coroutines finish instead of leaking.
    ~ManualSleeper() override;

    QCoro::Task<> sleep(Duration duration, CancelToken token = {}) override;
    MonotonicTime now() const override { return m_now; }

    // Moves the clock forward, waking due sleepers one by one in deadline order (ties in the order
    // they started to sleep). A woken sleeper runs inline and may start new sleeps, which also wake
    // if due before the end of the advance.
    void advance(Duration duration);
    int pendingSleepers() const { return static_cast<int>(m_waiters.size()); }

private:
    struct Waiter
    {
        MonotonicTime deadline;
        quint64 sequence;
        OneShot<> done;
    };

    void remove(const std::shared_ptr<Waiter>& waiter);

    MonotonicTime m_now { 0 };
    quint64 m_nextSequence = 0;
    std::vector<std::shared_ptr<Waiter>> m_waiters;
};

} // namespace tessvale
