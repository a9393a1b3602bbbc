#pragma once

#include <exception>
#include <optional>
#include <utility>

#include <qcoro/qcorotask.h>

namespace tessvale {

// What a task returned, or what it threw instead.
template <typename T> struct Captured
{
    std::optional<T> value;
    std::exception_ptr failure;
};

// What a task threw, if anything (a task cannot return an exception_ptr itself).
struct TaskFailure
{
    std::exception_ptr error;
};

// Awaits task and hands back what it threw instead of throwing it, so the caller re-checks its owner
// before it decides what the failure means.
inline QCoro::Task<TaskFailure> failureOf(QCoro::Task<> task)
{
    TaskFailure failure;
    try {
        co_await std::move(task);
    } catch (...) {
        failure.error = std::current_exception();
    }
    co_return failure;
}

template <typename T> QCoro::Task<Captured<T>> captured(QCoro::Task<T> task)
{
    Captured<T> result;
    try {
        result.value = co_await std::move(task);
    } catch (...) {
        result.failure = std::current_exception();
    }
    co_return result;
}

} // namespace tessvale
