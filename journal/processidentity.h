#pragma once

#include <QtGlobal>

namespace oxlenpay {

/// A process told apart from a later one that got the same pid: its pid and the
/// time it started, in clock ticks since boot.
struct ProcessIdentity {
    qint64 pid = 0;
    qint64 startTicks = 0;

    static ProcessIdentity current();
    /// True while the process it names still runs.
    bool isAlive() const;
};

} // namespace oxlenpay
