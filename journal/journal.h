#pragma once

#include "journalentry.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

namespace oxlenpay {

/// The payment journal: an SQLite database of the provider operations that move
/// money, written before each request leaves so that a crash loses none of them.
///
/// Every write is committed and synced before it returns. One object may be used
/// from several threads; several processes may share one file. A handle opened for
/// writing owns the rows it writes (see JournalOwner) and changes no row it does not
/// own: another handle's row is taken over with claim(), once that handle is gone.
class Journal {
public:
    /// Which entries a listing wants; empty members select everything.
    struct Filter {
        bool unsettledOnly = false;
        QString id;
        QString paymentId;
        QDateTime since; ///< created at or after
        QDateTime until; ///< created before
    };

    enum class OpenMode { CreateIfMissing, ExistingOnly, ReadOnly };
    /// The schema this build writes; older files are migrated forward when opened.
    static constexpr int SchemaVersion = 4;

    /// The wall clock of the rows' times: a simulation moves it to test the purge.
    static inline std::function<QDateTime()> wallClock = [] {
        return QDateTime::currentDateTimeUtc();
    };
    /// Fault seam: the next this many writes (of any handle) fail as a full disk would.
    static inline std::atomic<int> failingWrites{0};
    /// Fault seam: called on either side of every statement that writes and inside every
    /// transaction, where a simulation may end the process as a power cut or SIGKILL would.
    static inline std::function<void(const char* where)> crashPoint;

    Journal();
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    /// Opens the database at `path`, creating its tables in a new or empty file and
    /// migrating an older one. False, with the reason in errorString(), for anything
    /// that is not a journal this build can read.
    bool open(const QString& path, OpenMode mode = OpenMode::CreateIfMissing);
    /// Whether an existing file at `path` is a journal a till of this build can use (an
    /// older version counts: it is migrated when a till opens it); opened read-only.
    static bool isUsable(const QString& path, QString* problem);
    /// When the file or this handle's owner file vanished from its place, makes the journal
    /// anew there with every row. False, with the reason, when that failed.
    bool keepInPlace();
    void close();
    bool isOpen() const;
    QString path() const;
    /// Why the last call that returned false failed.
    QString errorString() const;
    /// Whether that failure was another process holding the write lock (SQLITE_BUSY or
    /// SQLITE_LOCKED), not a broken disk.
    bool lastErrorWasBusy() const;
    /// This handle's name in the rows' owner column; empty for a read-only handle.
    QString owner() const;
    /// True while the handle named `owner` (this one included) is open somewhere.
    bool isOwnerAlive(const QString& owner) const;
    /// How long a write waits for another process's transaction; negative: the default.
    void setBusyTimeout(int milliseconds);
    /// Rows carried over since the file vanished from its path and was made anew.
    int carriedOver() const;

    /// Writes a new entry of this handle or the change of one it owns; sets `changed`
    /// (and a missing `created`) to now and `owner` to this handle. False when the row
    /// belongs to another handle or cannot be written.
    bool record(JournalEntry* entry);
    /// Writes the change of a row this handle owns and gives the row up in the same write,
    /// so that any recovery may take it next: for rows whose operation has ended unsettled.
    bool recordAndRelease(JournalEntry* entry);
    /// Takes over `seen` as it was read, in state `state`: false, and nothing changed,
    /// when another handle changed or claimed it since.
    bool claim(JournalEntry* seen, JournalEntry::State state);
    /// Settles an Attention row by hand. False when there is no such row in that state.
    bool resolve(const QString& id, const QString& note);
    /// The entries, newest first; only those not settled when `unsettledOnly`.
    bool entries(QVector<JournalEntry>* out, bool unsettledOnly) const;
    /// The entries `filter` selects, newest first.
    bool entries(QVector<JournalEntry>* out, const Filter& filter) const;
    /// Deletes the settled entries last changed before `before`, and what reconciliations
    /// kept of them; their number, or -1.
    int removeSettledBefore(const QDateTime& before);

    /// The provider's status of a row as the last reconciliation read it.
    struct Reconciliation {
        QDateTime checked;
        QString providerStatus;
    };
    /// Keeps what a reconciliation read for row `id`. The row itself, owned by its writer,
    /// is never touched, and neither is the time the purge goes by.
    bool noteReconciliation(const QString& id, const QString& providerStatus);
    /// The last reconciliation of each row that had one, by row id.
    bool reconciliations(QHash<QString, Reconciliation>* out) const;

    /// How the last run of a command that works on the whole journal ended (recovery,
    /// reconciliation), so that monitoring can read it any time later.
    struct Run {
        QDateTime finished; ///< invalid: never ran on this journal
        int exitCode = 0;
        qint64 figure = 0; ///< the command's own count: disagreements for a reconciliation
    };
    bool noteRun(const QString& name, int exitCode, qint64 figure);
    bool lastRun(const QString& name, Run* out) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace oxlenpay
