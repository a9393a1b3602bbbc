#include "PulseAudioServer.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include "platform/linux/PulseConnection.h"
#include "system/Logging.h"

namespace tessvale {

namespace {

struct SourceQuery
{
    PulseAudioServer* server = nullptr;
    QList<AudioSystemDevice> sources;
    std::optional<QString> defaultSource;
};

void subscriptionEvent(pa_context*, pa_subscription_event_type_t type, uint32_t, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleSubscriptionEvent(static_cast<unsigned int>(type));
}

void serverInfoForEvent(pa_context*, const pa_server_info* info, void* userdata)
{
    static_cast<PulseAudioServer*>(userdata)->handleServerInfo(info != nullptr ? info->default_source_name : nullptr);
}

void sourceListed(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* query = static_cast<SourceQuery*>(userdata);
    if (eol != 0 || info == nullptr) {
        query->server->signalLoop();
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
    query->server->signalLoop();
}

void waitFor(pa_threaded_mainloop* loop, pa_context* context, pa_operation* operation)
{
    if (operation == nullptr) {
        return;
    }
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING
        && pa_context_get_state(context) == PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(loop);
    }
    pa_operation_unref(operation);
}

} // namespace

PulseAudioServer::PulseAudioServer() = default;

PulseAudioServer::~PulseAudioServer()
{
    std::lock_guard lock(m_connectMutex);
    disconnectLocked();
}

void PulseAudioServer::signalLoop()
{
    pa_threaded_mainloop_signal(m_loop, 0);
}

bool PulseAudioServer::ensureConnectedLocked()
{
    if (m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY) {
        return true;
    }
    disconnectLocked();
    const char* failure = nullptr;
    if (!connectPulse(m_loop, m_context, nullptr, std::nullopt, &failure)) {
        if (failure != nullptr) {
            qCWarning(lcAudioCapture) << "The sound server is not reachable:" << failure;
        }
        disconnectLocked();
        return false;
    }
    pa_threaded_mainloop_lock(m_loop);
    pa_context_set_subscribe_callback(m_context, subscriptionEvent, this);
    pa_operation* subscribed = pa_context_subscribe(m_context,
        static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
        nullptr, nullptr);
    if (subscribed != nullptr) {
        pa_operation_unref(subscribed);
    }
    SourceQuery query;
    query.server = this;
    waitFor(m_loop, m_context, pa_context_get_server_info(m_context, serverInfoForQuery, &query));
    m_knownDefaultSource = query.defaultSource;
    pa_threaded_mainloop_unlock(m_loop);
    return true;
}

void PulseAudioServer::disconnectLocked()
{
    disconnectPulse(m_loop, m_context);
}

PulseAudioServer::Snapshot PulseAudioServer::query()
{
    std::lock_guard lock(m_connectMutex);
    Snapshot snapshot;
    if (!ensureConnectedLocked()) {
        return snapshot;
    }
    SourceQuery query;
    query.server = this;
    pa_threaded_mainloop_lock(m_loop);
    waitFor(m_loop, m_context, pa_context_get_server_info(m_context, serverInfoForQuery, &query));
    waitFor(m_loop, m_context, pa_context_get_source_info_list(m_context, sourceListed, &query));
    snapshot.reachable = pa_context_get_state(m_context) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(m_loop);
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
    ensureConnectedLocked();
    return id;
}

void PulseAudioServer::removeListener(int id)
{
    std::lock_guard listenersLock(m_listenersMutex);
    m_listeners.erase(id);
}

void PulseAudioServer::notifyListeners()
{
    std::lock_guard listenersLock(m_listenersMutex);
    for (const auto& [id, listener] : m_listeners) {
        listener();
    }
}

void PulseAudioServer::handleSubscriptionEvent(unsigned int eventType)
{
    const unsigned int facility = eventType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned int kind = eventType & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        // Server changes include volume and sink defaults; only a new default source matters.
        pa_operation* operation = pa_context_get_server_info(m_context, serverInfoForEvent, this);
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

void PulseAudioServer::handleServerInfo(const char* defaultSource)
{
    std::optional<QString> current;
    if (defaultSource != nullptr && defaultSource[0] != '\0') {
        current = QString::fromUtf8(defaultSource);
    }
    if (current == m_knownDefaultSource) {
        return;
    }
    m_knownDefaultSource = current;
    notifyListeners();
}

} // namespace tessvale
