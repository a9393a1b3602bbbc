#include "PulseAudioServer.h"

#include <algorithm>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include "base/Logging.h"
#include "platform/linux/PulseConnection.h"

namespace tessvale {

namespace {

struct SourceQuery
{
    pa_threaded_mainloop* loop = nullptr;
    bool infoDone = false;
    bool listDone = false;
    QList<AudioSystemDevice> sources;
    std::optional<QString> defaultSource;
};

std::chrono::milliseconds remaining(std::chrono::steady_clock::time_point deadline)
{
    return std::max(std::chrono::milliseconds(1),
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
}

void contextStateEvent(pa_context* context, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleContextState(context);
}

void subscriptionEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleSubscriptionEvent(context, static_cast<unsigned int>(type));
}

void serverInfoForEvent(pa_context*, const pa_server_info* info, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleServerInfo(
        info != nullptr ? info->default_source_name : nullptr, true);
}

void serverInfoOnConnect(pa_context*, const pa_server_info* info, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleServerInfo(
        info != nullptr ? info->default_source_name : nullptr, false);
}

void reconnectDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleReconnectDue();
}

void sourceListed(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* query = static_cast<SourceQuery*>(userdata);
    if (eol != 0 || info == nullptr) {
        query->listDone = true;
        pa_threaded_mainloop_signal(query->loop, 0);
        return;
    }
    // A monitor replays an output; it is not a microphone.
    if (info->monitor_of_sink != PA_INVALID_INDEX) {
        return;
    }
    AudioSystemDevice device;
    device.uid = QString::fromUtf8(info->name != nullptr ? info->name : "");
    device.name = QString::fromUtf8(info->description != nullptr ? info->description : "");
    device.inputChannelCount = info->sample_spec.channels;
    query->sources.append(device);
}

void serverInfoForQuery(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* query = static_cast<SourceQuery*>(userdata);
    if (info != nullptr && info->default_source_name != nullptr && info->default_source_name[0] != '\0') {
        query->defaultSource = QString::fromUtf8(info->default_source_name);
    }
    query->infoDone = true;
    pa_threaded_mainloop_signal(query->loop, 0);
}

void dropContext(pa_context*& context)
{
    if (context == nullptr) {
        return;
    }
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

} // namespace

PulseAudioServer::PulseAudioServer() = default;

PulseAudioServer::~PulseAudioServer()
{
    std::lock_guard lock(m_connectMutex);
    // Freeing the loop also frees a pending reconnect timer.
    m_reconnect = nullptr;
    disconnectPulse(m_loop, m_context);
}

void PulseAudioServer::signalLoop()
{
    pa_threaded_mainloop_signal(m_loop, 0);
}

bool PulseAudioServer::startLoop()
{
    if (m_loop != nullptr) {
        return true;
    }
    m_loop = pa_threaded_mainloop_new();
    if (m_loop == nullptr) {
        return false;
    }
    pa_threaded_mainloop_set_name(m_loop, "AudioDevices");
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        return false;
    }
    return true;
}

void PulseAudioServer::replaceContextLocked()
{
    dropContext(m_context);
    m_wasReady = false;
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Tessvale");
    m_connectDeadline = std::chrono::steady_clock::now() + connectWait;
    if (m_context == nullptr) {
        scheduleReconnectLocked();
        return;
    }
    pa_context_set_state_callback(m_context, contextStateEvent, this);
    // Never spawns a server: listing devices must not start one behind the user's back.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_lost = true;
        scheduleReconnectLocked();
    }
}

PulseAudioServer::Connection PulseAudioServer::ensureConnectedLocked(std::chrono::steady_clock::time_point deadline)
{
    if (m_context == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) {
        replaceContextLocked();
    }
    if (m_context == nullptr) {
        return Connection::failed;
    }
    // A reconnect timer may replace the context while this waits; the reference keeps this one valid.
    pa_context* context = pa_context_ref(m_context);
    waitPulseLocked(m_loop, context, remaining(std::min(deadline, m_connectDeadline)), [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    const pa_context_state_t state = pa_context_get_state(context);
    Connection result = Connection::ready;
    if (!PA_CONTEXT_IS_GOOD(state)) {
        qCWarning(lcAudioCapture) << "The sound server is not reachable:" << pa_strerror(pa_context_errno(context));
        result = Connection::failed;
    } else if (state != PA_CONTEXT_READY) {
        // Said once per connection: later callers are turned away at once.
        if (!m_lost)
            qCWarning(lcAudioCapture) << "The sound server took the connection but did not answer within"
                                      << connectWait.count() << "ms";
        // Should it answer later, what happened meanwhile is news.
        m_lost = true;
        result = Connection::unanswered;
    }
    pa_context_unref(context);
    return result;
}

void PulseAudioServer::scheduleReconnectLocked()
{
    if (m_reconnect != nullptr || !hasListeners()) {
        return;
    }
    timeval due {};
    pa_gettimeofday(&due);
    pa_timeval_add(&due, static_cast<pa_usec_t>(reconnectDelay.count()) * PA_USEC_PER_MSEC);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    m_reconnect = api->time_new(api, &due, reconnectDue, this);
}

void PulseAudioServer::handleReconnectDue()
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    api->time_free(m_reconnect);
    m_reconnect = nullptr;
    if (!hasListeners() || (m_context != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))) {
        return;
    }
    replaceContextLocked();
}

void PulseAudioServer::handleContextState(pa_context* context)
{
    signalLoop();
    if (context != m_context) {
        return;
    }
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        m_wasReady = true;
        pa_context_set_subscribe_callback(context, subscriptionEvent, this);
        pa_operation* subscribed = pa_context_subscribe(context,
            static_cast<pa_subscription_mask_t>(
                PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
            nullptr, nullptr);
        if (subscribed != nullptr) {
            pa_operation_unref(subscribed);
        }
        pa_operation* info = pa_context_get_server_info(context, serverInfoOnConnect, this);
        if (info != nullptr) {
            pa_operation_unref(info);
        }
        if (m_lost) {
            m_lost = false;
            qCInfo(lcAudioCapture) << "Connected to the sound server again";
            notifyListeners();
        }
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state)) {
        return;
    }
    // The server went away (or restarted): its devices went with it, and the next ones need a new connection.
    m_lost = true;
    if (m_wasReady) {
        m_wasReady = false;
        qCWarning(lcAudioCapture) << "Lost the connection to the sound server:"
                                  << pa_strerror(pa_context_errno(context));
        notifyListeners();
    }
    scheduleReconnectLocked();
}

void PulseAudioServer::connectInBackground()
{
    std::lock_guard lock(m_connectMutex);
    if (!startLoop())
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_context == nullptr)
        replaceContextLocked();
    pa_threaded_mainloop_unlock(m_loop);
}

PulseAudioServer::Snapshot PulseAudioServer::query()
{
    std::lock_guard lock(m_connectMutex);
    Snapshot snapshot;
    if (!startLoop()) {
        return snapshot;
    }
    const auto deadline = std::chrono::steady_clock::now() + answerTimeout;
    pa_threaded_mainloop_lock(m_loop);
    const Connection connection = ensureConnectedLocked(deadline);
    if (connection != Connection::ready) {
        snapshot.unanswered = connection == Connection::unanswered;
        pa_threaded_mainloop_unlock(m_loop);
        return snapshot;
    }
    pa_context* context = pa_context_ref(m_context);
    SourceQuery query;
    query.loop = m_loop;
    const bool listed
        = waitPulseOperationLocked(m_loop, context, pa_context_get_server_info(context, serverInfoForQuery, &query),
              remaining(deadline), [&] { return query.infoDone; })
        && waitPulseOperationLocked(m_loop, context, pa_context_get_source_info_list(context, sourceListed, &query),
            remaining(deadline), [&] { return query.listDone; });
    const bool good = PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    pa_context_unref(context);
    pa_threaded_mainloop_unlock(m_loop);
    if (!listed && good) {
        qCWarning(lcAudioCapture) << "The sound server did not list its devices within" << answerTimeout.count()
                                  << "ms";
        snapshot.unanswered = true;
        return snapshot;
    }
    snapshot.reachable = listed;
    snapshot.sources = query.sources;
    snapshot.defaultSource = query.defaultSource;
    return snapshot;
}

int PulseAudioServer::addListener(std::function<void()> listener)
{
    std::lock_guard lock(m_connectMutex);
    const int id = m_nextListenerId++;
    {
        std::lock_guard listenersLock(m_listenersMutex);
        m_listeners.emplace(id, std::move(listener));
    }
    if (startLoop()) {
        pa_threaded_mainloop_lock(m_loop);
        // A failure schedules the reconnect from the state callback; a silent server is waited for there too.
        ensureConnectedLocked(std::chrono::steady_clock::now() + answerTimeout);
        pa_threaded_mainloop_unlock(m_loop);
    }
    return id;
}

void PulseAudioServer::removeListener(int id)
{
    std::lock_guard listenersLock(m_listenersMutex);
    m_listeners.erase(id);
}

bool PulseAudioServer::hasListeners()
{
    std::lock_guard listenersLock(m_listenersMutex);
    return !m_listeners.empty();
}

void PulseAudioServer::notifyListeners()
{
    std::lock_guard listenersLock(m_listenersMutex);
    for (const auto& [id, listener] : m_listeners) {
        listener();
    }
}

void PulseAudioServer::handleSubscriptionEvent(pa_context* context, unsigned int eventType)
{
    const unsigned int facility = eventType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned int kind = eventType & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        // Server changes include volume and sink defaults; only a new default source matters.
        pa_operation* operation = pa_context_get_server_info(context, serverInfoForEvent, this);
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
        return;
    }
    if ((facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SINK)
        && (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_REMOVE)) {
        notifyListeners();
    }
}

void PulseAudioServer::handleServerInfo(const char* defaultSource, bool notify)
{
    std::optional<QString> current;
    if (defaultSource != nullptr && defaultSource[0] != '\0') {
        current = QString::fromUtf8(defaultSource);
    }
    if (current == m_knownDefaultSource) {
        return;
    }
    m_knownDefaultSource = current;
    if (notify) {
        notifyListeners();
    }
}

} // namespace tessvale
