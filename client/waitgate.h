#pragma once

#include "waitclock.h"

#include <condition_variable>
#include <mutex>

namespace oxlenpay {

/// Lets another thread cut short the waits of a running provider operation.
///
/// The mutex guards the only state the client shares between threads: whether an
/// operation runs and whether it was asked to stop waiting.
class WaitGate {
public:
    /// Marks an operation as running for its lifetime; operations may nest.
    class Running {
    public:
        explicit Running(WaitGate& gate);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        WaitGate& m_gate;
    };

    /// Asks the running operation to stop waiting; false (and nothing done) when none runs.
    bool interrupt();
    /// Sleeps until `deadline`; false at once, or as soon as it comes, on an interrupt.
    bool sleepUntil(WaitClock::TimePoint deadline);
    bool interrupted() const;
    /// Forgets an interrupt already acted on, so the next wait runs (and can be cut) anew.
    void rearm();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeup;
    int m_running = 0;
    bool m_interrupted = false;
};

} // namespace oxlenpay
