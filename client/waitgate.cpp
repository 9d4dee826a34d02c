#include "waitgate.h"

namespace oxlenpay {

WaitGate::Running::Running(WaitGate& gate) : m_gate(gate)
{
    std::lock_guard<std::mutex> lock(m_gate.m_mutex);
    ++m_gate.m_running;
}

WaitGate::Running::~Running()
{
    std::lock_guard<std::mutex> lock(m_gate.m_mutex);
    if (--m_gate.m_running == 0) {
        m_gate.m_interrupted = false; // an interrupt belongs to the operation it was meant for
    }
}

bool WaitGate::interrupt()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running == 0) {
            return false;
        }
        m_interrupted = true;
    }
    m_wakeup.notify_all();
    return true;
}

bool WaitGate::sleepUntil(WaitClock::TimePoint deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_interrupted && WaitClock::now() < deadline) {
        WaitClock::waitUntil(lock, m_wakeup, deadline);
    }
    return !m_interrupted;
}

bool WaitGate::interrupted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_interrupted;
}

void WaitGate::rearm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interrupted = false;
}

} // namespace oxlenpay
