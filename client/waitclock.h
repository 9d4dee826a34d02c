#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace oxlenpay {

/// The client's only view of time. Tests replace both functions to run waits in
/// virtual time; everything else keeps the monotonic clock and real sleeping.
struct WaitClock {
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using WaitFunction =
        std::function<void(std::unique_lock<std::mutex>&, std::condition_variable&, TimePoint)>;

    /// Blocks on `wakeup` (whose mutex `lock` holds) until `deadline` or a notification.
    static void realWaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wakeup,
                              TimePoint deadline)
    {
        wakeup.wait_until(lock, deadline);
    }

    static inline std::function<TimePoint()> now = &Clock::now;
    static inline WaitFunction waitUntil = &WaitClock::realWaitUntil;

    /// Puts the real clock back.
    static void reset()
    {
        now = &Clock::now;
        waitUntil = &WaitClock::realWaitUntil;
    }
};

} // namespace oxlenpay
