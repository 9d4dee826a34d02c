#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <QtGlobal>

namespace oxlenpay {

/// The client's and the journal's only view of time. Tests replace these functions to run
/// waits in virtual time; everything else keeps the real clocks and real sleeping.
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

    static qint64 realWallMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

    static inline std::function<TimePoint()> now = &Clock::now;
    static inline WaitFunction waitUntil = &WaitClock::realWaitUntil;
    /// The wall clock in ms since the epoch, for what the provider compares with its own
    /// clock (the signature's timestamp).
    static inline std::function<qint64()> wallMs = &WaitClock::realWallMs;

    /// Puts the real clock back.
    static void reset()
    {
        now = &Clock::now;
        waitUntil = &WaitClock::realWaitUntil;
        wallMs = &WaitClock::realWallMs;
    }
};

} // namespace oxlenpay
