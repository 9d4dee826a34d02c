#pragma once

#include <QtGlobal>

namespace oxlenpay {

/// A process told apart from a later one that got the same pid: its pid and the
/// time it started, in clock ticks since boot. The journal's rows carry it so that a
/// till finds its own operation again. Whether a row's till still runs is the business
/// of JournalOwner, which holds across PID namespaces; only rows written before owner
/// handles existed (version 1) fall back on this identity.
struct ProcessIdentity {
    qint64 pid = 0;
    qint64 startTicks = 0;

    static ProcessIdentity current();
    /// The process `pid` as it runs now; startTicks is -1 when there is none.
    static ProcessIdentity of(qint64 pid);
    /// True while the process `pid` runs and started at `startTicks` (not a later process
    /// that got the same pid).
    static bool isAlive(qint64 pid, qint64 startTicks);
};

} // namespace oxlenpay
