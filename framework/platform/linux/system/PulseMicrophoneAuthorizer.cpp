#include "platform/linux/system/PulseMicrophoneAuthorizer.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>

#include "system/Logging.h"

namespace tessvale {

namespace {

struct SourceCount
{
    int inputs = 0;
    bool done = false;
};

void countSource(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* count = static_cast<SourceCount*>(userdata);
    if (eol != 0) {
        count->done = true;
        return;
    }
    if (info && info->monitor_of_sink == PA_INVALID_INDEX)
        ++count->inputs;
}

// Owns a private main loop and context; iterates with a deadline so an unresponsive server cannot
// hold the caller for long.
class PulseSession
{
public:
    explicit PulseSession(std::chrono::milliseconds timeout)
        : m_deadline(std::chrono::steady_clock::now() + timeout)
        , m_loop(pa_mainloop_new())
    {
        if (m_loop)
            m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Tessvale permission check");
    }

    ~PulseSession()
    {
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop)
            pa_mainloop_free(m_loop);
    }

    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;

    // Never spawns a server: asking for permission must not start one behind the user's back.
    bool connect(QString* reason)
    {
        if (!m_context) {
            *reason = QStringLiteral("Could not create a sound server client.");
            return false;
        }
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            *reason = QStringLiteral("Could not reach the sound server: %1.").arg(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
            return false;
        }
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_READY)
                return true;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                *reason = QStringLiteral("Could not reach the sound server: %1.").arg(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
                return false;
            }
            if (!iterate()) {
                *reason = QStringLiteral("The sound server did not answer in time.");
                return false;
            }
        }
    }

    bool countInputs(int* inputs, QString* reason)
    {
        SourceCount count;
        pa_operation* operation = pa_context_get_source_info_list(m_context, countSource, &count);
        if (!operation) {
            *reason = QStringLiteral("The sound server did not list its inputs.");
            return false;
        }
        bool finished = true;
        while (!count.done) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) || !iterate()) {
                finished = false;
                break;
            }
        }
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!finished) {
            *reason = QStringLiteral("The sound server did not list its inputs in time.");
            return false;
        }
        *inputs = count.inputs;
        return true;
    }

private:
    bool iterate()
    {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(m_deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0)
            return false;
        if (pa_mainloop_poll(m_loop) < 0)
            return false;
        return pa_mainloop_dispatch(m_loop) >= 0;
    }

    std::chrono::steady_clock::time_point m_deadline;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
};

} // namespace

PulseMicrophoneAuthorizer::PulseMicrophoneAuthorizer(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

MicrophoneAuthorizationStatus PulseMicrophoneAuthorizer::check(QString* reason)
{
    QString why;
    int inputs = 0;
    PulseSession session(m_timeout);
    MicrophoneAuthorizationStatus status = MicrophoneAuthorizationStatus::denied;
    if (session.connect(&why) && session.countInputs(&inputs, &why)) {
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
