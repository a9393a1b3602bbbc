#include "insertion/InsertionQueue.h"

#include <QTimer>

namespace tessvale {

InsertionQueue::InsertionQueue(QObject* context)
    : m_context(context)
{
}

InsertionQueue::Turn::~Turn()
{
    if (m_queue)
        m_queue->leave();
}

QCoro::Task<InsertionQueue::Turn> InsertionQueue::enter(CancelToken token)
{
    token.throwIfCancelled();
    if (m_busy) {
        OneShot<> turn;
        m_waiting.push_back(turn);
        auto registration = token.onCancel(m_context, [turn]() mutable { turn.fail(CancelledError()); });
        co_await turn;
    }
    m_busy = true;
    co_return Turn(this);
}

void InsertionQueue::leave()
{
    // Hand the turn on from the event loop, not from inside the finishing insertion.
    while (!m_waiting.empty()) {
        OneShot<> next = m_waiting.front();
        m_waiting.pop_front();
        if (next.isDone())
            continue; // cancelled while waiting
        QTimer::singleShot(0, m_context, [this, next]() mutable {
            if (next.isDone())
                leave(); // cancelled after the turn was handed on
            else
                next.resolve();
        });
        return;
    }
    m_busy = false;
}

} // namespace tessvale
