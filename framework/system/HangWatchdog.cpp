#include "system/HangWatchdog.h"

#include <algorithm>
#include <atomic>

#include <QObject>
#include <QTimer>

namespace tessvale {

namespace {

using Clock = std::chrono::steady_clock;

// How often the watchdog looks, and how often the watched thread says it runs: often enough to report
// close to the threshold.
std::chrono::milliseconds tickFor(std::chrono::milliseconds threshold)
{
    return std::max(std::chrono::milliseconds(20), threshold / 8);
}

} // namespace

// Beats in the watched thread while its event loop runs. Only an atomic time crosses between the threads,
// so no allocation made in one is freed in the other.
class HangWatchdog::Pings final : public QObject
{
public:
    explicit Pings(std::chrono::milliseconds tick)
    {
        m_timer.setInterval(tick);
        connect(&m_timer, &QTimer::timeout, this, [this] { lastBeat = Clock::now().time_since_epoch().count(); });
        m_timer.start();
    }

    std::atomic<Clock::rep> lastBeat { Clock::now().time_since_epoch().count() };

private:
    QTimer m_timer { this };
};

HangWatchdog::HangWatchdog(
    QObject* context, std::chrono::milliseconds threshold, std::function<void(std::chrono::milliseconds)> onHang)
    : m_threshold(threshold)
    , m_onHang(std::move(onHang))
    , m_pings(std::make_unique<Pings>(tickFor(threshold)))
{
    Q_ASSERT(context->thread() == m_pings->thread());
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
    const auto tick = tickFor(m_threshold);
    Clock::rep reportedBeat = 0;
    bool reported = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        const Clock::rep beat = m_pings->lastBeat.load();
        // A beat since the report: the thread answered, so the next hang is a new one.
        if (reported && beat != reportedBeat)
            reported = false;
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            Clock::now() - Clock::time_point(Clock::duration(beat)));
        if (!reported && waited >= m_threshold) {
            reported = true;
            reportedBeat = beat;
            lock.unlock();
            m_onHang(waited);
            lock.lock();
            continue;
        }
        m_wake.wait_for(lock, tick, [this] { return m_stopping; });
    }
}

} // namespace tessvale
