#pragma once

#include <chrono>
#include <functional>

namespace tessvale {

// Runs the event loop until predicate holds or timeout passes; returns the predicate's last value.
bool waitUntil(std::function<bool()> predicate, std::chrono::milliseconds timeout = std::chrono::seconds(60));
// Runs the event loop for a while (to let work settle, or to show that something does not happen).
void spinEventLoop(std::chrono::milliseconds duration);

} // namespace tessvale
