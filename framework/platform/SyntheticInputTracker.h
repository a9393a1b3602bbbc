#pragma once

#include <atomic>
#include <chrono>

namespace tessvale {

// Marks the spans in which this process synthesizes key events (paste, typing), so the keyboard
// monitor can tell our own keys from the user's and never start or stop a dictation on them.
// Events of a span can reach the monitor shortly after it ends, so a short trailing grace counts too.
class SyntheticInputTracker
{
public:
    static constexpr std::chrono::milliseconds trailingGrace { 150 };

    class Scope
    {
    public:
        explicit Scope(SyntheticInputTracker& tracker);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SyntheticInputTracker& m_tracker;
    };

    Scope begin() { return Scope(*this); }

    // True while a span is open or during the grace after the last one ended.
    bool isSynthesizing() const;

private:
    std::atomic<int> m_open { 0 };
    std::atomic<std::chrono::steady_clock::rep> m_lastEnd { 0 };
};

} // namespace tessvale
