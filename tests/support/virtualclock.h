#pragma once

#include "waitclock.h"

#include <chrono>

namespace testsupport {

/// Runs the client's waits in virtual time while it lives: sleeping moves the clock
/// to the deadline at once, and exchanges take no time unless a test says so.
class VirtualClock {
public:
    using TimePoint = oxlenpay::WaitClock::TimePoint;

    VirtualClock()
    {
        oxlenpay::WaitClock::now = [this] { return m_now; };
        oxlenpay::WaitClock::waitUntil = [this](std::unique_lock<std::mutex>&,
                                                std::condition_variable&, TimePoint deadline) {
            m_now = std::max(m_now, deadline);
        };
    }
    ~VirtualClock() { oxlenpay::WaitClock::reset(); }
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    void advance(std::chrono::milliseconds step) { m_now += step; }
    /// Virtual milliseconds since the clock was made.
    qint64 elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_now - m_start).count();
    }
    static qint64 msBetween(TimePoint from, TimePoint to)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
    }

private:
    TimePoint m_start = TimePoint() + std::chrono::hours(1);
    TimePoint m_now = m_start;
};

} // namespace testsupport
