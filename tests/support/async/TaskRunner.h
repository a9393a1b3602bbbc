#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include <qcoro/qcorotask.h>

#include "support/async/EventLoopWaits.h"

namespace tessvale {

// What a task ended with, filled in by captureTask.
template <typename T> struct TaskOutcome
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    std::exception_ptr error;
    bool done = false;
};

// Awaits task and records its value or error in outcome; the caller drives the event loop (or virtual time).
template <typename T> QCoro::Task<> captureTask(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->result.emplace(true);
        } else {
            auto value = co_await std::move(task);
            outcome->result.emplace(std::move(value));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

// Like QCoro::waitFor, which never returns when the task throws: runs the event loop until the task
// ends, then hands back its value or rethrows its error.
template <typename T> T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    auto outcome = std::make_shared<TaskOutcome<T>>();
    auto runner = captureTask<T>(std::move(task), outcome);
    if (!waitUntil([&] { return outcome->done; }, timeout))
        throw std::runtime_error("The task did not finish in time.");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->result);
}

} // namespace tessvale
