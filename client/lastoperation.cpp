#include "lastoperation.h"

#include "messages.h"

#include <QThread>

namespace oxlenpay {

const char* LastOperation::settlementName(Interface::Settlement settlement)
{
    switch (settlement) {
    case Interface::Settlement::Approved:
        return "approved";
    case Interface::Settlement::Declined:
        return "declined";
    case Interface::Settlement::Reversed:
        return "reversed";
    case Interface::Settlement::Unknown:
        return "unknown";
    case Interface::Settlement::ReversalOwed:
        return "reversalOwed";
    }
    return "unknown";
}

void LastOperations::begin(const JournalEntry& row, bool journaled)
{
    LastOperation operation;
    operation.known = true;
    operation.running = true;
    operation.operation = row.operation;
    operation.journaled = journaled;
    operation.journalState = row.state;
    operation.transactionId = row.id;
    operation.paymentId = row.paymentId;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_byThread.insert(QThread::currentThreadId(), operation);
}

void LastOperations::update(const JournalEntry& row)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LastOperation& operation = m_byThread[QThread::currentThreadId()];
    operation.journalState = row.state;
    operation.paymentId = row.paymentId;
}

Interface::Settlement LastOperation::settlementOf(const JournalEntry& row,
                                                  const Interface::RequestResult& result)
{
    if (result.success) {
        return Interface::Settlement::Approved;
    }
    if (row.operation == JournalEntry::Operation::Fiscal) {
        return Interface::Settlement::Declined; // the host sends the link again
    }
    const QString key = messages::keyOf(result);
    if (key == QLatin1String("paymentReversed") ||
        key == QLatin1String("paymentInterruptedReversed") ||
        key == QLatin1String("paymentNotRecordedReversed")) {
        return Interface::Settlement::Reversed;
    }
    if (key == QLatin1String("paymentCloseOutFailed")) {
        return Interface::Settlement::ReversalOwed;
    }
    // The row's state is decided from the same evidence: declined means nothing moved.
    return row.state == JournalEntry::State::Declined ? Interface::Settlement::Declined
                                                      : Interface::Settlement::Unknown;
}

void LastOperations::end(const JournalEntry& row, const Interface::RequestResult& result,
                         bool recorded)
{
    close(row, LastOperation::settlementOf(row, result), recorded);
}

void LastOperations::notSent(const JournalEntry& row)
{
    begin(row, false);
    close(row, Interface::Settlement::Declined, false);
}

void LastOperations::close(const JournalEntry& row, Interface::Settlement settlement, bool recorded)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LastOperation& operation = m_byThread[QThread::currentThreadId()];
    operation.running = false;
    operation.settlement = settlement;
    operation.journalState = row.state;
    operation.journalRecorded = operation.journaled && recorded;
    operation.paymentId = row.paymentId;
}

LastOperation LastOperations::current() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto own = m_byThread.constFind(QThread::currentThreadId());
    if (own != m_byThread.constEnd()) {
        return *own;
    }
    for (const LastOperation& operation : m_byThread) {
        if (operation.running) {
            return operation;
        }
    }
    return LastOperation();
}

} // namespace oxlenpay
