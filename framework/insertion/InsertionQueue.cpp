#include "insertion/InsertionQueue.h"

#include <deque>

#include <QPointer>
#include <QTimer>

#include "async/OneShot.h"

namespace tessvale {

struct InsertionQueue::State
{
    QPointer<QObject> context;
    bool busy = false;
    bool closed = false;
    // A waiter stays here until it has its turn, so the destructor can still end it.
    std::deque<OneShot<>> waiting;
};

InsertionQueue::Turn::Turn(std::weak_ptr<State> state)
    : m_state(std::move(state))
{
}

InsertionQueue::Turn::~Turn()
{
    if (auto state = m_state.lock())
        leave(state);
}

InsertionQueue::InsertionQueue(QObject* context)
    : m_state(std::make_shared<State>())
{
    m_state->context = context;
}

InsertionQueue::~InsertionQueue()
{
    m_state->closed = true;
    auto waiting = std::move(m_state->waiting);
    m_state->waiting.clear();
    for (auto& waiter : waiting)
        waiter.fail(CancelledError());
}

bool InsertionQueue::isBusy() const
{
    return m_state->busy;
}

QCoro::Task<InsertionQueue::Turn> InsertionQueue::enter(CancelToken token)
{
    token.throwIfCancelled();
    // The frame keeps the state, not the queue: the queue may be gone when the wait ends.
    const std::shared_ptr<State> state = m_state;
    if (state->busy) {
        OneShot<> turn;
        state->waiting.push_back(turn);
        auto registration = token.onCancel(state->context, [turn]() mutable { turn.fail(CancelledError()); });
        co_await turn;
    }
    state->busy = true;
    co_return Turn(state);
}

void InsertionQueue::leave(const std::shared_ptr<State>& state)
{
    if (state->closed)
        return;
    while (!state->waiting.empty() && state->waiting.front().isDone())
        state->waiting.pop_front(); // cancelled while waiting
    if (state->waiting.empty() || !state->context) {
        state->busy = false;
        return;
    }
    // Hand the turn on from the event loop, not from inside the finishing insertion.
    QTimer::singleShot(0, state->context, [weak = std::weak_ptr<State>(state)] {
        if (auto alive = weak.lock())
            handOver(alive);
    });
}

void InsertionQueue::handOver(const std::shared_ptr<State>& state)
{
    if (state->closed)
        return;
    while (!state->waiting.empty()) {
        OneShot<> next = state->waiting.front();
        state->waiting.pop_front();
        if (!next.isDone()) {
            next.resolve(); // its enter() takes the turn inline
            return;
        }
    }
    state->busy = false;
}

} // namespace tessvale
