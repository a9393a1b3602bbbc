#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <qcoro/qcorotask.h>

namespace tessvale {

// What an awaited step gave: its value, or what it threw.
template <typename T> struct Captured
{
    std::optional<T> value;
    std::exception_ptr error;
};

template <> struct Captured<void>
{
    std::exception_ptr error;
};

// Starts the step start() begins and awaits it, so that the caller handles a failure as a value after
// its owner check instead of in a handler. Starting counts as the step: what start() throws is
// captured too.
template <typename Start>
auto captured(Start start) -> QCoro::Task<Captured<typename std::invoke_result_t<Start>::value_type>>
{
    using Value = typename std::invoke_result_t<Start>::value_type;
    Captured<Value> result;
    try {
        auto step = start();
        if constexpr (std::is_void_v<Value>)
            co_await std::move(step);
        else
            result.value = co_await std::move(step);
    } catch (...) {
        result.error = std::current_exception();
    }
    co_return result;
}

} // namespace tessvale
