#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <memory>
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

// A loop and a context made by connectPulse, shared by whoever holds it and freed with the last holder.
class PulseClient
{
public:
    // nullptr when the connection failed or did not become ready by timeout (failure tells why).
    static std::shared_ptr<PulseClient> connect(
        const char* threadName, std::chrono::milliseconds timeout, const char** failure);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    pa_threaded_mainloop* loop() const { return m_loop; }
    pa_context* context() const { return m_context; }
    // Whether the context is still connected; not from the loop's own thread.
    bool isReady() const;

private:
    PulseClient() = default;

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
};

// With the loop locked: waits until done() holds or timeout passes; returns done().
bool waitPulseLocked(pa_threaded_mainloop* loop, pa_context* context, std::optional<std::chrono::milliseconds> timeout,
    const std::function<bool()>& done);

// With the loop locked: waits until done() holds, the operation ends or the context fails, or until
// timeout passes; then cancels the operation if it still runs (its callback is not called after
// that) and drops it. A null operation returns at once. Returns done().
bool waitPulseOperationLocked(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
    std::chrono::milliseconds timeout, const std::function<bool()>& done);

} // namespace tessvale
