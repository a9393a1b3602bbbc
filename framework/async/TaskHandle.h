#pragma once

#include <memory>

#include "async/CancelToken.h"

namespace tessvale {

namespace detail {
struct TaskState
{
    bool finished = false;
};
} // namespace detail

// What a stored timer or background-work field holds. Dropping a handle does not cancel its task;
// cancel() does, cooperatively. The task keeps its own state, so it may cancel or replace the handle
// that refers to it while it runs.
class TaskHandle
{
public:
    TaskHandle() = default;
    TaskHandle(CancelSource source, std::shared_ptr<detail::TaskState> state)
        : m_source(std::move(source))
        , m_state(std::move(state))
    {
    }

    bool isValid() const { return m_state != nullptr; }
    bool isFinished() const { return m_state && m_state->finished; }
    bool isCancelled() const { return m_state && m_source.isCancelled(); }
    void cancel()
    {
        if (m_state)
            m_source.cancel();
    }
    CancelToken token() const { return m_source.token(); }

private:
    CancelSource m_source;
    std::shared_ptr<detail::TaskState> m_state;
};

} // namespace tessvale
