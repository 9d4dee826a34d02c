#pragma once

#include "interface.h"
#include "journalentry.h"

#include <QHash>
#include <QString>
#include <mutex>

namespace oxlenpay {

/// What the host was last told about one operation, and what its journal row says: the
/// till learns an outcome from here, never by searching the journal.
struct LastOperation {
    bool known = false;   ///< false until the calling thread started an operation
    bool running = false; ///< the operation has not ended yet
    JournalEntry::Operation operation = JournalEntry::Operation::Sale;
    Interface::Settlement settlement = Interface::Settlement::Unknown;
    bool journaled = false; ///< the journal is on and holds the operation's row
    JournalEntry::State journalState = JournalEntry::State::Sending;
    bool journalRecorded = false; ///< the row's closing state was made durable
    QString transactionId;
    QString paymentId;

    static const char* settlementName(Interface::Settlement settlement);
    /// What the host was told by `result` about the operation of `row`.
    static Interface::Settlement settlementOf(const JournalEntry& row,
                                              const Interface::RequestResult& result);
};

/// The operations of each calling thread, under one lock: calls on one client object are
/// not serialised by the host.
class LastOperations {
public:
    /// `row` is under way on this thread.
    void begin(const JournalEntry& row, bool journaled);
    /// Its payment id or journal state moved.
    void update(const JournalEntry& row);
    /// The host is told `result`; `recorded`: the row's closing write was made durable.
    void end(const JournalEntry& row, const Interface::RequestResult& result, bool recorded);
    /// The journal refused `row`: nothing was sent, and the host hears a decline.
    void notSent(const JournalEntry& row);
    /// This thread's operation; from a thread that has none (a Ctrl-C handler), the one
    /// running elsewhere, if any.
    LastOperation current() const;

private:
    void close(const JournalEntry& row, Interface::Settlement settlement, bool recorded);

    mutable std::mutex m_mutex;
    QHash<Qt::HANDLE, LastOperation> m_byThread;
};

} // namespace oxlenpay
