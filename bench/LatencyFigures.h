#pragma once

// What the latency benchmarks share: the clock they read, a fine-grained wait, and the figures they report.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace tessvale::bench {

using Clock = std::chrono::steady_clock;

inline double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Runs the event loop without the 10 ms tick of waitUntil, so a moment is seen within a millisecond.
inline bool pollUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!predicate()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return true;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Counters median_ms, p90_ms, p95_ms and max_ms of values, in milliseconds.
inline void reportPercentiles(benchmark::State& state, std::vector<double> values)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    const auto percentile = [&](std::size_t percent) {
        return values[std::min(values.size() - 1, (values.size() * percent + 99) / 100 - 1)];
    };
    state.counters["median_ms"] = values[values.size() / 2];
    state.counters["p90_ms"] = percentile(90);
    state.counters["p95_ms"] = percentile(95);
    state.counters["max_ms"] = values.back();
}

} // namespace tessvale::bench
