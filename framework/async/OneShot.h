#pragma once

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "async/CancelToken.h"

namespace tessvale {

// Bridges one callback (or one signal) into a coroutine: the first resolve() or fail() wins, the
// awaiting coroutine resumes inside that call, and later calls are ignored. Copies share the result,
// so a copy can be captured by the callback while the coroutine awaits another.
template <typename T = void> class OneShot
{
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    struct State
    {
        std::optional<Stored> value;
        std::exception_ptr error;
        std::coroutine_handle<> waiter;
    };

public:
    OneShot()
        : m_state(std::make_shared<State>())
    {
    }

    bool isDone() const { return m_state->value.has_value() || m_state->error; }

    template <typename... Args> void resolve(Args&&... args)
    {
        if (isDone())
            return;
        if constexpr (std::is_void_v<T>)
            m_state->value.emplace();
        else
            m_state->value.emplace(std::forward<Args>(args)...);
        wake();
    }

    void fail(std::exception_ptr error)
    {
        if (isDone())
            return;
        m_state->error = std::move(error);
        wake();
    }

    template <typename E> void fail(E error) { fail(std::make_exception_ptr(std::move(error))); }

    struct Awaiter
    {
        std::shared_ptr<State> state;

        bool await_ready() const noexcept { return state->value.has_value() || state->error; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { state->waiter = handle; }
        T await_resume()
        {
            if (state->error)
                std::rethrow_exception(state->error);
            if constexpr (!std::is_void_v<T>)
                return std::move(*state->value);
        }
    };

    Awaiter operator co_await() const noexcept { return Awaiter { m_state }; }

private:
    void wake()
    {
        // Keep the state alive across the resume: the coroutine may drop its last copy.
        auto keep = m_state;
        if (auto waiter = std::exchange(keep->waiter, {}))
            waiter.resume();
    }

    std::shared_ptr<State> m_state;
};

} // namespace tessvale
