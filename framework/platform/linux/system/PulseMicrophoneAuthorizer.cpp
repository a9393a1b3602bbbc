#include "platform/linux/system/PulseMicrophoneAuthorizer.h"

#include <algorithm>

#include "base/Logging.h"
#include "platform/linux/PulseConnection.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

namespace tessvale {

namespace {

struct SourceCount
{
    pa_threaded_mainloop* loop = nullptr;
    int inputs = 0;
    bool done = false;
};

void countSource(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* count = static_cast<SourceCount*>(userdata);
    if (eol != 0) {
        count->done = true;
        pa_threaded_mainloop_signal(count->loop, 0);
        return;
    }
    if (info && info->monitor_of_sink == PA_INVALID_INDEX)
        ++count->inputs;
}

// With the loop locked: lists the server's inputs that are not monitors of an output, by the deadline.
bool countInputs(pa_threaded_mainloop* loop, pa_context* context, std::chrono::steady_clock::time_point deadline,
    int* inputs, QString* reason)
{
    SourceCount count { loop };
    pa_operation* operation = pa_context_get_source_info_list(context, countSource, &count);
    if (!operation) {
        *reason = QStringLiteral("The sound server did not list its inputs.");
        return false;
    }
    const auto left = std::max(std::chrono::milliseconds(1),
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    waitPulseLocked(
        loop, context, left, [&] { return count.done || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); });
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!count.done) {
        *reason = QStringLiteral("The sound server did not list its inputs in time.");
        return false;
    }
    *inputs = count.inputs;
    return true;
}

} // namespace

PulseMicrophoneAuthorizer::PulseMicrophoneAuthorizer(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorizer::check(QString* reason)
{
    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    QString why;
    int inputs = 0;
    bool listed = false;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    const char* failure = nullptr;
    // Never spawns a server: asking for permission must not start one behind the user's back.
    const bool connected = connectPulse(loop, context, nullptr, m_timeout, &failure);
    if (loop) {
        pa_threaded_mainloop_lock(loop);
        if (connected)
            listed = countInputs(loop, context, deadline, &inputs, &why);
        else if (context && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            why = QStringLiteral("The sound server did not answer in time.");
        else
            why = QStringLiteral("Could not reach the sound server: %1.")
                      .arg(QString::fromUtf8(failure ? failure : "no client"));
        pa_threaded_mainloop_unlock(loop);
    } else {
        why = QStringLiteral("Could not create a sound server client.");
    }
    disconnectPulse(loop, context);

    MicrophoneAuthorizationStatus status = MicrophoneAuthorizationStatus::denied;
    if (listed) {
        if (inputs > 0)
            status = MicrophoneAuthorizationStatus::authorized;
        else
            why = QStringLiteral("The sound server offers no audio input.");
    }
    const MicrophoneAuthorizationStatus previous = m_lastStatus.exchange(status);
    if (previous != status) {
        if (status == MicrophoneAuthorizationStatus::authorized)
            qCInfo(lcPermissions) << "Microphone available:" << inputs << "input(s) on the sound server.";
        else
            qCInfo(lcPermissions).noquote() << "Microphone unavailable:" << why;
    }
    if (reason)
        *reason = status == MicrophoneAuthorizationStatus::authorized ? QString() : why;
    return status;
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorizer::lastStatus() const
{
    return m_lastStatus.load();
}

} // namespace tessvale
