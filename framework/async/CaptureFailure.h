#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include <qcoro/qcorotask.h>

namespace tessvale {

// What a task threw, if anything (a task cannot return an exception_ptr itself).
struct TaskFailure
{
    std::exception_ptr error;
};

// What a task returned, or what it threw instead.
template <typename T> struct Captured
{
    std::optional<T> value;
    std::exception_ptr failure;
};

template <typename> struct TaskValue;
template <typename T> struct TaskValue<QCoro::Task<T>>
{
    using type = T;
};

// Starts a task with start() and awaits it, handing back what either threw instead of throwing it, so
// the caller re-checks its owner before it decides what the failure means. start runs at once, while
// the caller's frame is alive.
template <typename Start> QCoro::Task<TaskFailure> failureOf(Start start)
{
    TaskFailure failure;
    try {
        QCoro::Task<> task = start();
        co_await std::move(task);
    } catch (...) {
        failure.error = std::current_exception();
    }
    co_return failure;
}

template <typename Start>
auto captured(Start start) -> QCoro::Task<Captured<typename TaskValue<std::invoke_result_t<Start&>>::type>>
{
    using Value = typename TaskValue<std::invoke_result_t<Start&>>::type;
    Captured<Value> result;
    try {
        QCoro::Task<Value> task = start();
        result.value = co_await std::move(task);
    } catch (...) {
        result.failure = std::current_exception();
    }
    co_return result;
}

} // namespace tessvale
