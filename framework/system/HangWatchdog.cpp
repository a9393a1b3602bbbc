#include "system/HangWatchdog.h"

#include <algorithm>
#include <atomic>

#include <QMetaObject>
#include <QObject>

namespace tessvale {

// Shared with the posted pings, which may run after the watchdog is gone.
struct HangWatchdog::Pings
{
    std::atomic<bool> answered { true };
};

HangWatchdog::HangWatchdog(
    QObject* context, std::chrono::milliseconds threshold, std::function<void(std::chrono::milliseconds)> onHang)
    : m_context(context)
    , m_threshold(threshold)
    , m_onHang(std::move(onHang))
    , m_pings(std::make_shared<Pings>())
{
    m_thread = std::thread([this] { run(); });
}

HangWatchdog::~HangWatchdog()
{
    stop();
}

void HangWatchdog::stop()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void HangWatchdog::run()
{
    using Clock = std::chrono::steady_clock;
    // Check often enough to report close to the threshold.
    const auto tick = std::max(std::chrono::milliseconds(20), m_threshold / 8);
    Clock::time_point sentAt;
    bool waiting = false;
    bool reported = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (!waiting || m_pings->answered.load()) {
            waiting = true;
            reported = false;
            sentAt = Clock::now();
            m_pings->answered = false;
            std::shared_ptr<Pings> pings = m_pings;
            QMetaObject::invokeMethod(
                m_context, [pings] { pings->answered = true; }, Qt::QueuedConnection);
        } else if (!reported) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sentAt);
            if (waited >= m_threshold) {
                reported = true;
                lock.unlock();
                m_onHang(waited);
                lock.lock();
                continue;
            }
        }
        m_wake.wait_for(lock, tick, [this] { return m_stopping; });
    }
}

} // namespace tessvale
