#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

namespace tessvale {

// Notices when the thread of a context object stops running its event loop: a timer in that thread
// beats while the loop runs, and a worker thread that sees no beat for longer than the threshold
// reports the hang once (from the worker thread). A new hang is reported after the thread has beaten
// again. Made and destroyed in the context's thread.
class HangWatchdog
{
public:
    // Long enough that ordinary slow work (a blocking X11 round trip, a large paste) is no hang.
    static constexpr std::chrono::milliseconds defaultThreshold { 2000 };

    HangWatchdog(
        QObject* context, std::chrono::milliseconds threshold, std::function<void(std::chrono::milliseconds)> onHang);
    ~HangWatchdog();

    HangWatchdog(const HangWatchdog&) = delete;
    HangWatchdog& operator=(const HangWatchdog&) = delete;

    void stop();

private:
    class Pings;

    void run();

    std::chrono::milliseconds m_threshold;
    std::function<void(std::chrono::milliseconds)> m_onHang;
    std::unique_ptr<Pings> m_pings;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tessvale
