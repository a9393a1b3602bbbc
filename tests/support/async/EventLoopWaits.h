#pragma once

#include <chrono>
#include <functional>

namespace tessvale {

// Runs the event loop until predicate holds or timeout passes; returns the predicate's last value.
bool waitUntil(std::function<bool()> predicate, std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Runs the event loop for a while (to let work settle, or to show that something does not happen).
// Only time in which the loop kept running counts, so a stalled machine lengthens the window instead
// of eating it. Returns the longest the loop went without running.
std::chrono::milliseconds spinEventLoop(std::chrono::milliseconds duration);

} // namespace tessvale
