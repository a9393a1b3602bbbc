#include "platform/SyntheticInputTracker.h"

namespace tessvale {

SyntheticInputTracker::Scope::Scope(SyntheticInputTracker& tracker)
    : m_tracker(tracker)
{
    ++m_tracker.m_open;
}

SyntheticInputTracker::Scope::~Scope()
{
    m_tracker.m_lastEnd = std::chrono::steady_clock::now().time_since_epoch().count();
    --m_tracker.m_open;
}

bool SyntheticInputTracker::isSynthesizing() const
{
    if (m_open > 0)
        return true;
    const auto lastEnd = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastEnd.load()));
    return m_lastEnd != 0 && std::chrono::steady_clock::now() - lastEnd < trailingGrace;
}

} // namespace tessvale
