#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include <qcoro/qcorotask.h>

#include "support/cloud/FakeCloudFixture.h"

namespace tessvale {

// QCoro::waitFor never returns when the task throws; runTask runs the event loop until the task
// ends and hands back its value or rethrows its error.
namespace detail {

    template <typename T> struct TaskOutcome
    {
        std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
        std::exception_ptr error;
        bool done = false;
    };

    template <typename T> QCoro::Task<> captureTask(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome)
    {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                outcome->value.emplace(true);
            } else {
                auto value = co_await std::move(task);
                outcome->value.emplace(std::move(value));
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        outcome->done = true;
    }

} // namespace detail

template <typename T> T runTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    auto outcome = std::make_shared<detail::TaskOutcome<T>>();
    auto runner = detail::captureTask<T>(std::move(task), outcome);
    if (!waitUntil([&] { return outcome->done; }, timeout))
        throw std::runtime_error("The task did not finish in time.");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

} // namespace tessvale
