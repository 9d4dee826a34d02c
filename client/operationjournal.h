#pragma once

#include "interface.h"
#include "journal.h"

#include <QMutex>

namespace oxlenpay {

/// The client's use of the payment journal: where it lives, when it is opened, and
/// what the result handed back to the host means for an entry.
///
/// Opened at the first money operation, not when the plug-in loads, so that loading
/// stays quick and silent. When the journal cannot be written, nothing is sent.
class OperationJournal {
public:
    using RequestResult = Interface::RequestResult;

    explicit OperationJournal(Log4Qt::Logger* logger) : m_logger(logger) {}

    /// The configured path (relocated; empty turns the journal off) and how many days
    /// closed entries are kept.
    void configure(const QString& path, int keepDays);
    bool isEnabled() const;
    /// Opens the journal when it is not open yet and removes old closed entries.
    /// False, with the error logged and `refusal` set, when it cannot be used.
    bool ready(RequestResult* refusal);
    /// True exactly once per plug-in load: the first money operation recovers the journal.
    bool claimRecovery();

    /// A new open entry of this process, not written yet.
    static JournalEntry entry(JournalEntry::Operation operation, const QString& id, qint64 amount,
                              int currency, const QString& paymentId);
    /// Writes `row` as sending before its request leaves; false with `refusal` set.
    bool start(JournalEntry* row, RequestResult* refusal);
    /// The operation's own answer came: the payment id and status it names.
    void answered(JournalEntry* row, const RequestResult& answer);
    /// Closes `row` with the result the host gets.
    void finish(JournalEntry* row, const RequestResult& result);
    /// Writes any change of `row`; the failure is logged, the operation goes on.
    void save(JournalEntry* row);

    /// The closed state that stands for a result handed back to the host.
    static JournalEntry::State closedState(const RequestResult& result);

    bool openEntries(QVector<JournalEntry>* entries);
    QString path() const;

private:
    RequestResult unavailable(const QString& reason) const;

    Log4Qt::Logger* m_logger;
    mutable QMutex m_mutex; // guards the settings and the opening, not the journal's own writes
    QString m_path;
    int m_keepDays = 0;
    bool m_recoveryClaimed = false;
    Journal m_journal;
};

} // namespace oxlenpay
