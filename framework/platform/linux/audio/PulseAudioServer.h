#pragma once

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

namespace tessvale {

// A libpulse connection for the device list: the sources, the default source and change events.
class PulseAudioServer
{
public:
    struct Snapshot
    {
        bool reachable = false;
        QList<AudioSystemDevice> sources;
        std::optional<QString> defaultSource;
    };

    PulseAudioServer();
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // Capture sources, monitors of outputs left out. Never call from a change listener.
    Snapshot query();

    // listener runs on the sound server's thread and must not block or call back into this object.
    int addListener(std::function<void()> listener);
    // Returns once no call of that listener is running any more.
    void removeListener(int id);

    // Internal to the libpulse callbacks.
    void handleSubscriptionEvent(unsigned int eventType);
    void handleServerInfo(const char* defaultSource);
    void signalLoop();

private:
    bool ensureConnectedLocked();
    void disconnectLocked();
    void notifyListeners();

    std::mutex m_connectMutex;
    std::mutex m_listenersMutex;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::map<int, std::function<void()>> m_listeners;
    int m_nextListenerId = 1;
    std::optional<QString> m_knownDefaultSource;
};

} // namespace tessvale
