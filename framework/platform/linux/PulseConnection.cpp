#include "platform/linux/PulseConnection.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/operation.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

namespace tessvale {

namespace {

struct TimedWait
{
    pa_threaded_mainloop* loop = nullptr;
    bool expired = false;
};

void timerExpired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* wait = static_cast<TimedWait*>(userdata);
    wait->expired = true;
    pa_threaded_mainloop_signal(wait->loop, 0);
}

void contextStateChanged(pa_context*, void* userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

} // namespace

bool connectPulse(pa_threaded_mainloop*& loop, pa_context*& context, const char* threadName,
    std::optional<std::chrono::milliseconds> timeout, const char** failure)
{
    loop = pa_threaded_mainloop_new();
    if (loop == nullptr) {
        return false;
    }
    if (threadName != nullptr) {
        pa_threaded_mainloop_set_name(loop, threadName);
    }
    pa_threaded_mainloop_lock(loop);
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Tessvale");
    bool ready = false;
    if (context != nullptr) {
        pa_context_set_state_callback(context, contextStateChanged, loop);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0
            && pa_threaded_mainloop_start(loop) >= 0) {
            pa_context* connecting = context;
            ready = waitPulseLocked(loop, context, timeout, [connecting] {
                const pa_context_state_t state = pa_context_get_state(connecting);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            }) && pa_context_get_state(context) == PA_CONTEXT_READY;
        }
    }
    if (!ready && failure != nullptr) {
        *failure = context != nullptr ? pa_strerror(pa_context_errno(context)) : "no context";
    }
    pa_threaded_mainloop_unlock(loop);
    return ready;
}

void disconnectPulse(pa_threaded_mainloop*& loop, pa_context*& context)
{
    if (loop == nullptr) {
        return;
    }
    pa_threaded_mainloop_stop(loop);
    if (context != nullptr) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

std::shared_ptr<PulseClient> PulseClient::connect(
    const char* threadName, std::chrono::milliseconds timeout, const char** failure)
{
    std::shared_ptr<PulseClient> client(new PulseClient());
    if (!connectPulse(client->m_loop, client->m_context, threadName, timeout, failure)) {
        return nullptr;
    }
    return client;
}

PulseClient::~PulseClient()
{
    disconnectPulse(m_loop, m_context);
}

bool PulseClient::isReady() const
{
    pa_threaded_mainloop_lock(m_loop);
    const bool ready = pa_context_get_state(m_context) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(m_loop);
    return ready;
}

bool waitPulseLocked(pa_threaded_mainloop* loop, pa_context* context, std::optional<std::chrono::milliseconds> timeout,
    const std::function<bool()>& done)
{
    TimedWait wait { loop };
    pa_time_event* timer = nullptr;
    if (timeout) {
        timer = pa_context_rttime_new(context,
            pa_rtclock_now() + static_cast<pa_usec_t>(timeout->count()) * PA_USEC_PER_MSEC, timerExpired, &wait);
    }
    while (!done() && !wait.expired) {
        pa_threaded_mainloop_wait(loop);
    }
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
    }
    return done();
}

bool waitPulseOperationLocked(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation,
    std::chrono::milliseconds timeout, const std::function<bool()>& done)
{
    if (operation == nullptr) {
        return done();
    }
    waitPulseLocked(loop, context, timeout, [&] {
        return done() || pa_operation_get_state(operation) != PA_OPERATION_RUNNING
            || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    });
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(operation);
    }
    pa_operation_unref(operation);
    return done();
}

} // namespace tessvale
