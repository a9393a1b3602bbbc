#pragma once

#include <memory>

#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"

namespace tessvale {

// Lets one insertion run at a time, in arrival order: a second insertion waits until the first has
// finished (its pasteboard restored, its keys typed).
class InsertionQueue
{
    struct State;

public:
    // Held for the length of one insertion. It may outlive the queue: it then hands nothing on.
    class Turn
    {
    public:
        Turn(Turn&& other) noexcept = default;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        Turn& operator=(Turn&&) = delete;
        ~Turn();

    private:
        friend class InsertionQueue;
        explicit Turn(std::weak_ptr<State> state);

        std::weak_ptr<State> m_state;
    };

    // Turns are handed on from context's event loop.
    explicit InsertionQueue(QObject* context);
    // Callers still waiting resume with CancelledError here: nothing would ever hand them a turn.
    ~InsertionQueue();
    InsertionQueue(const InsertionQueue&) = delete;
    InsertionQueue& operator=(const InsertionQueue&) = delete;

    // Waits for this caller's turn; throws CancelledError when token is cancelled while waiting.
    QCoro::Task<Turn> enter(CancelToken token);
    bool isBusy() const;

private:
    static void leave(const std::shared_ptr<State>& state);
    static void handOver(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
};

} // namespace tessvale
