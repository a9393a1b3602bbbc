#pragma once

#include <deque>

#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/OneShot.h"

namespace tessvale {

// Lets one insertion run at a time, in arrival order: a second insertion waits until the first has
// finished (its pasteboard restored, its keys typed).
class InsertionQueue
{
public:
    class Turn
    {
    public:
        explicit Turn(InsertionQueue* queue)
            : m_queue(queue)
        {
        }
        Turn(Turn&& other) noexcept
            : m_queue(std::exchange(other.m_queue, nullptr))
        {
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        Turn& operator=(Turn&&) = delete;
        ~Turn();

    private:
        InsertionQueue* m_queue;
    };

    explicit InsertionQueue(QObject* context);

    // Waits for this caller's turn; throws CancelledError when token is cancelled while waiting.
    QCoro::Task<Turn> enter(CancelToken token);
    bool isBusy() const { return m_busy; }

private:
    void leave();

    QObject* m_context;
    bool m_busy = false;
    std::deque<OneShot<>> m_waiting;
};

} // namespace tessvale
