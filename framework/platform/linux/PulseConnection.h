#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <optional>

struct pa_context;
struct pa_operation;
struct pa_threaded_mainloop;

namespace tessvale {

// Makes a threaded main loop (its thread named threadName unless null) with a context on it, connects
// to the running sound server (never spawning one) and waits until the context is ready or has failed,
// or until timeout passes. The context's state changes signal the loop for as long as it lives. Returns
// with the loop unlocked; whatever it made is left in loop and context for disconnectPulse, even on failure.
// When the connection was tried and failed, failure tells why.
bool connectPulse(pa_threaded_mainloop*& loop, pa_context*& context, const char* threadName,
    std::optional<std::chrono::milliseconds> timeout, const char** failure);

// Stops the loop, detaches the context's callbacks, and frees both (each may already be null).
void disconnectPulse(pa_threaded_mainloop*& loop, pa_context*& context);

// With the loop locked: waits until done() holds or timeout passes; returns done().
bool waitPulseLocked(pa_threaded_mainloop* loop, pa_context* context, std::optional<std::chrono::milliseconds> timeout,
    const std::function<bool()>& done);

// With the loop locked: waits until done() holds, the operation ends or the context fails, or until
// timeout passes; then cancels the operation if it still runs (its callback is not called after
// that) and drops it. A null operation returns at once. Returns done().
bool waitPulseOperationLocked(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
    std::chrono::milliseconds timeout, const std::function<bool()>& done);

} // namespace tessvale
