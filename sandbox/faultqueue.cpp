#include "faultqueue.h"

#include <QJsonObject>

namespace sandbox {

bool FaultQueue::add(std::optional<Operation> operation, WireFault fault, int count, int after)
{
    if (fault == WireFault::None || (count < 1 && count != Always) || after < 0) {
        return false;
    }
    m_entries.append({operation, fault, count, after});
    return true;
}

WireFault FaultQueue::take(Operation operation)
{
    // The earliest queued fault that is due wins; every other one waiting for its
    // turn counts this request among those it lets pass.
    WireFault met = WireFault::None;
    for (int i = 0; i < m_entries.size(); ++i) {
        Entry& entry = m_entries[i];
        if (!entry.matches(operation)) {
            continue;
        }
        if (entry.after > 0) {
            --entry.after;
        } else if (met == WireFault::None) {
            met = entry.fault;
            if (entry.remaining != Always && --entry.remaining == 0) {
                m_entries.removeAt(i--);
            }
        }
    }
    return met;
}

int FaultQueue::pending(std::optional<Operation> operation) const
{
    int total = 0;
    for (const Entry& entry : m_entries) {
        if (!operation || !entry.operation || *entry.operation == *operation) {
            if (entry.remaining == Always) {
                return Always;
            }
            total += entry.remaining;
        }
    }
    return total;
}

QJsonArray FaultQueue::toJson() const
{
    QJsonArray list;
    for (const Entry& entry : m_entries) {
        list.append(QJsonObject{
            {"operation", entry.operation ? operationName(*entry.operation) : QString("any")},
            {"fault", wireFaultName(entry.fault)},
            {"count", entry.remaining},
            {"after", entry.after}});
    }
    return list;
}

} // namespace sandbox
