#pragma once

#include "interface.h"
#include "journal.h"
#include "journalplace.h"

#include <QHash>
#include <mutex>

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

    /// Where the journal is (or may be made), and how many days settled entries are kept.
    void configure(const JournalPlace& place, int keepDays);
    bool isEnabled() const;
    /// Opens the journal when it is not open yet and removes old settled entries; only
    /// `create` makes a new one. False, with the error logged and `refusal` set, when it
    /// cannot be used.
    bool ready(RequestResult* refusal, bool create = true);
    /// A journal is open, or one exists at a place it would be opened from.
    bool exists() const;
    /// Journals at the other places, which only a mistake leaves there: recovery works on
    /// them too.
    QStringList otherJournals() const;
    int keepDays() const;

    /// A new open entry of this process, not written yet.
    static JournalEntry entry(JournalEntry::Operation operation, const QString& id, qint64 amount,
                              int currency, const QString& paymentId);
    /// Writes `row` as sending before its request leaves; false with `refusal` set.
    bool start(JournalEntry* row, RequestResult* refusal);
    /// The operation's own answer came: the payment id and status it names.
    void answered(JournalEntry* row, const RequestResult& answer);
    /// Closes `row`, in the state already decided for it, with the result the host gets.
    /// False when that could not be made durable, after a few tries: the host must then
    /// not hear of money moved.
    bool finish(JournalEntry* row, const RequestResult& result);
    /// Writes any change of `row`; false, with the failure logged, when it could not.
    /// A row left unsettled is given up in the same write, for any recovery to take.
    bool save(JournalEntry* row);

    /// Makes the journal anew, with every row, when its file left its place.
    void keepInPlace();
    /// Forgets the unwritten close of row `id`: the close that follows replaces it.
    void dropUnrecorded(const QString& id);
    /// Rows recovery may have to work on: every one that is not settled, oldest first.
    bool unsettledEntries(QVector<JournalEntry>* entries);
    /// Takes over a row of a gone handle in `state`; false when another recovery has it.
    bool claim(JournalEntry* row, JournalEntry::State state);
    bool isMine(const JournalEntry& row) const;
    /// Whether the till that works on `row` still runs: its owner handle is open, or, for a
    /// row still open, its process runs. A row given up (unknown, attention) belongs to
    /// nobody.
    bool isWriterAlive(const JournalEntry& row) const;
    /// How long the journal waits for another process's write (recovery cuts it).
    void setBusyTimeout(int milliseconds);
    QString path() const;

private:
    RequestResult unavailable(const QString& reason) const;
    void retryUnrecorded();
    bool write(JournalEntry* row);
    /// A whole cancel's amount: the sale's, less the refunds done, as this journal knows
    /// them; else the host's sum when positive; else unknown.
    void takeRemainingAmount(JournalEntry* row);
    void noteCarriedOver();

    Log4Qt::Logger* m_logger;
    mutable std::mutex m_mutex; // guards the settings and the opening, not the journal's own writes
    JournalPlace m_place{QString(), QString()};
    QString m_path; ///< the file opened, or the place it will be found or made at
    int m_keepDays = 0;
    int m_carriedOver = 0;
    Journal m_journal;
    /// Closing states that could not be written yet, by row id: tried again at each look at
    /// the journal's place, before anything else is written.
    std::mutex m_unrecordedMutex;
    QHash<QString, JournalEntry> m_unrecorded;
};

} // namespace oxlenpay
