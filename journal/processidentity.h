#pragma once

#include <QtGlobal>

namespace oxlenpay {

/// A process told apart from a later one that got the same pid: its pid and the
/// time it started, in clock ticks since boot. The journal's rows carry it so that a
/// till finds its own operation again; whether a row's till still runs is the business
/// of JournalOwner, which holds across PID namespaces.
struct ProcessIdentity {
    qint64 pid = 0;
    qint64 startTicks = 0;

    static ProcessIdentity current();
};

} // namespace oxlenpay
