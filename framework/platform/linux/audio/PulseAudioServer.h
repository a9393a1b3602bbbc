#pragma once

#include "platform/linux/BackendOnly.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include <QList>
#include <QString>

#include "platform/audio/AudioSystem.h"

struct pa_context;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace tessvale {

// A libpulse connection for the device list: the sources, the default source and change events.
// While anyone listens, a lost connection (the server restarted or went away) is made again.
class PulseAudioServer
{
public:
    struct Snapshot
    {
        bool reachable = false;
        // The server took the connection but did not answer within answerTimeout.
        bool unanswered = false;
        QList<AudioSystemDevice> sources;
        std::optional<QString> defaultSource;
    };

    // How long a query may wait for the server's answers: it blocks its caller.
    static constexpr std::chrono::milliseconds answerTimeout { 2000 };
    // How long callers together wait for one connection to be made, counted from its start: a local
    // server answers within milliseconds. One that does not is not waited for again (on the main
    // thread, at start-up least of all); listeners hear when it does answer.
    static constexpr std::chrono::milliseconds connectWait { 250 };
    // How soon a lost connection is tried again while listeners wait for changes.
    static constexpr std::chrono::milliseconds reconnectDelay { 500 };

    PulseAudioServer();
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // Starts connecting without waiting, so that the first query finds the connection made.
    void connectInBackground();

    // Capture sources, monitors of outputs left out. Never call from a change listener.
    Snapshot query();

    // listener runs on the sound server's thread and must not block or call back into this object.
    // It also runs when the connection is lost and when it is made again, since devices come and go then.
    int addListener(std::function<void()> listener);
    // Returns once no call of that listener is running any more.
    void removeListener(int id);

    // Internal to the libpulse callbacks; they run on the loop's thread with its lock held.
    void handleContextState(pa_context* context);
    void handleSubscriptionEvent(pa_context* context, unsigned int eventType);
    void handleServerInfo(const char* defaultSource, bool notify);
    void handleReconnectDue();
    void signalLoop();

private:
    enum class Connection {
        ready,
        failed,
        unanswered,
    };

    bool startLoop();
    Connection ensureConnectedLocked(std::chrono::steady_clock::time_point deadline);
    void replaceContextLocked();
    void scheduleReconnectLocked();
    bool hasListeners();
    void notifyListeners();

    std::mutex m_connectMutex;
    std::mutex m_listenersMutex;
    // Made once and run until destruction, so reconnecting never has to stop its own thread.
    pa_threaded_mainloop* m_loop = nullptr;
    // The fields below are touched only with the loop's lock held.
    pa_context* m_context = nullptr;
    pa_time_event* m_reconnect = nullptr;
    // When waiting for the current context to connect ends for good.
    std::chrono::steady_clock::time_point m_connectDeadline;
    // Changes may have been missed since the connection was lost: the next ready connection notifies.
    bool m_lost = false;
    bool m_wasReady = false;
    std::optional<QString> m_knownDefaultSource;
    std::map<int, std::function<void()>> m_listeners;
    int m_nextListenerId = 1;
};

} // namespace tessvale
