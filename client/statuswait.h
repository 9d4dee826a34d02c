#pragma once

#include "interface.h"

#include <QHash>
#include <mutex>

namespace oxlenpay {

/// How a wait for an operation's final status ended.
struct StatusWait {
    enum class End { Final, TimedOut, Interrupted };
    /// What the host is told.
    Interface::RequestResult result;
    End end = End::Final;
    /// The last exchange as it came, before the wait's end was put into `result`.
    Interface::RequestResult answer;
    /// The last status request went out whole and its answer was lost.
    bool answerLost = false;

    /// A wait known only by its result, as an overriding waitForStatus returns it.
    static StatusWait fromResult(const Interface::RequestResult& result);
};

/// Hands an operation the detail of its own wait. The operations call the virtual
/// waitForStatus, whose signature carries the result alone; the built-in one leaves here
/// how its wait ended, per calling thread, and an override leaves nothing.
class StatusWaitHandOver {
public:
    /// This thread's operation is about to wait; `closeOutFollows`: a sale whose open end
    /// the close-out reports.
    void expect(bool closeOutFollows);
    /// The built-in wait starts: whether the close-out follows it.
    bool closeOutFollows() const;
    /// The built-in wait ended so.
    void leave(const StatusWait& wait);
    /// The operation's wait, which returned `returned`: the built-in wait's detail when
    /// it made that very result, else the result read on its own.
    StatusWait take(const Interface::RequestResult& returned);

private:
    struct Slot {
        bool closeOutFollows = false;
        bool left = false;
        StatusWait wait;
    };
    mutable std::mutex m_mutex;
    QHash<Qt::HANDLE, Slot> m_slots;
};

} // namespace oxlenpay
