#pragma once

#include "operation.h"
#include "wirefault.h"

#include <QJsonArray>
#include <QList>

#include <optional>

namespace sandbox {

/// Wire faults queued through the control API for coming merchant requests.
/// Not locked: its owner serialises access.
class FaultQueue {
public:
    static constexpr int Always = -1;

    /// Queues `fault` for the requests of `operation` (none: any operation): the
    /// first `after` of them pass, the next `count` meet it (Always: every one).
    bool add(std::optional<Operation> operation, WireFault fault, int count, int after);
    /// The fault that this request of `operation` meets; None when there is none.
    WireFault take(Operation operation);
    /// Faults still queued for `operation` (any included); -1 when one never ends.
    int pending(std::optional<Operation> operation) const;
    QJsonArray toJson() const;
    void clear() { m_entries.clear(); }

private:
    struct Entry {
        std::optional<Operation> operation;
        WireFault fault;
        int remaining; // Always, or how many requests still meet it
        int after;     // requests of the operation to let pass first
        bool matches(Operation other) const { return !operation || *operation == other; }
    };
    QList<Entry> m_entries;
};

} // namespace sandbox
