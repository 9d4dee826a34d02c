#include "journal.h"

#include "crashpoint.h"
#include "fileidentity.h"
#include "journalowner.h"
#include "journalschema.h"
#include "sqlitedatabase.h"
#include "sqlitestatement.h"
#include "waitclock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <mutex>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace oxlenpay {

void reachCrashPoint(const char* where)
{
    if (Journal::crashPoint) {
        Journal::crashPoint(where);
    }
}

namespace {

constexpr int DefaultBusyTimeoutMs = 5000;
static_assert(Journal::SchemaVersion == JournalSchema::Version, "one schema version");

// Writes a whole row; an existing one changes only under the condition that follows.
#define UPSERT_ROW                                                                                 \
    "INSERT INTO operations (id, operation, amount, currency, payment_id, state, "                 \
    "provider_status,\n"                                                                           \
    "                        message_key, created_ms, changed_ms, owner_pid, owner_start, "        \
    "owner,\n"                                                                                     \
    "                        note, resolved_ms, provider_text, refusals, first_refused_ms,\n"      \
    "                        retry_after_ms, not_carried_since_ms, first_answer_ms, ended_ms)\n"   \
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, "    \
    "?19,\n"                                                                                       \
    "        ?20, ?21, ?22)\n"                                                                     \
    "ON CONFLICT (id) DO UPDATE SET\n"                                                             \
    "    payment_id = excluded.payment_id, state = excluded.state,\n"                              \
    "    provider_status = excluded.provider_status, message_key = excluded.message_key,\n"        \
    "    changed_ms = excluded.changed_ms, provider_text = excluded.provider_text,\n"              \
    "    refusals = excluded.refusals, first_refused_ms = excluded.first_refused_ms,\n"            \
    "    retry_after_ms = excluded.retry_after_ms,\n"                                              \
    "    not_carried_since_ms = excluded.not_carried_since_ms,\n"                                  \
    "    first_answer_ms = excluded.first_answer_ms, ended_ms = excluded.ended_ms\n"

// A known row changes only for the handle that owns it.
const char* const Upsert = UPSERT_ROW "WHERE operations.owner = excluded.owner";

// The same when a journal is made anew: a copy another till carried is written over only by
// the handle that owns the row, never by one of a released row.
const char* const CarryOver =
    UPSERT_ROW "WHERE operations.owner = excluded.owner AND excluded.owner <> ''";

#undef UPSERT_ROW

qint64 msOrZero(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

QDateTime timeOrNone(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

/// Binds every column of `entry`, in the order of JournalSchema::columns().
void bindEntry(SqliteStatement& statement, const JournalEntry& entry)
{
    statement.bind(1, entry.id);
    statement.bind(2, JournalEntry::operationName(entry.operation));
    if (entry.amountKnown) {
        statement.bind(3, entry.amount);
    } else {
        statement.bindNull(3);
    }
    statement.bind(4, qint64(entry.currency));
    statement.bind(5, entry.paymentId);
    statement.bind(6, JournalEntry::stateName(entry.state));
    statement.bind(7, entry.providerStatus);
    statement.bind(8, entry.messageKey);
    statement.bind(9, entry.created.toMSecsSinceEpoch());
    statement.bind(10, entry.changed.toMSecsSinceEpoch());
    statement.bind(11, entry.ownerPid);
    statement.bind(12, entry.ownerStart);
    statement.bind(13, entry.owner);
    statement.bind(14, entry.note);
    statement.bind(15, msOrZero(entry.resolved));
    statement.bind(16, entry.providerText);
    statement.bind(17, qint64(entry.refusals));
    statement.bind(18, msOrZero(entry.firstRefused));
    statement.bind(19, msOrZero(entry.retryAfter));
    statement.bind(20, msOrZero(entry.notCarriedSince));
    statement.bind(21, msOrZero(entry.firstAnswer));
    statement.bind(22, msOrZero(entry.ended));
}

/// The row at the cursor, read in the order of JournalSchema::columns(); false for names
/// it does not know.
bool readEntry(const SqliteStatement& statement, JournalEntry* entry)
{
    entry->id = statement.text(0);
    entry->amountKnown = !statement.isNull(2);
    entry->amount = statement.integer(2);
    entry->currency = int(statement.integer(3));
    entry->paymentId = statement.text(4);
    entry->providerStatus = statement.text(6);
    entry->messageKey = statement.text(7);
    entry->created = QDateTime::fromMSecsSinceEpoch(statement.integer(8), Qt::UTC);
    entry->changed = QDateTime::fromMSecsSinceEpoch(statement.integer(9), Qt::UTC);
    entry->ownerPid = statement.integer(10);
    entry->ownerStart = statement.integer(11);
    entry->owner = statement.text(12);
    entry->note = statement.text(13);
    entry->resolved = timeOrNone(statement.integer(14));
    entry->providerText = statement.text(15);
    entry->refusals = int(statement.integer(16));
    entry->firstRefused = timeOrNone(statement.integer(17));
    entry->retryAfter = timeOrNone(statement.integer(18));
    entry->notCarriedSince = timeOrNone(statement.integer(19));
    entry->firstAnswer = timeOrNone(statement.integer(20));
    entry->ended = timeOrNone(statement.integer(21));
    return JournalEntry::operationFromName(statement.text(1), &entry->operation) &&
           JournalEntry::stateFromName(statement.text(5), &entry->state);
}

// How long a write waits between tries while another process holds the write lock.
std::chrono::milliseconds busyStep(int count)
{
    static const int steps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int last = sizeof steps / sizeof *steps - 1;
    return std::chrono::milliseconds(steps[count < last ? count : last]);
}

/// Waits on WaitClock, so that a simulation runs the wait in virtual time.
void pauseUntil(WaitClock::TimePoint until)
{
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    WaitClock::waitUntil(lock, never, until);
}

/// Runs a statement that writes; a simulation may end the process on either side of it.
int stepWrite(sqlite3_stmt* statement)
{
    reachCrashPoint("before a journal write");
    const int result = sqlite3_step(statement);
    reachCrashPoint("after a journal write");
    return result;
}

} // namespace

struct Journal::Private {
    mutable std::mutex mutex;
    /// The connection; mutable so that a read can prepare its statement and note a failure.
    mutable SqliteDatabase database;
    QString path;
    OpenMode mode = OpenMode::CreateIfMissing;
    FileIdentity file;
    JournalOwner owner;
    int busyTimeoutMs = DefaultBusyTimeoutMs;
    WaitClock::TimePoint busySince;
    int carriedOver = 0;
    bool olderVersion = false; // a read-only open met a file a writer would migrate

    bool fail(const QString& what) const { return database.fail(what); }
    bool failWith(const QString& error) const
    {
        database.setError(error);
        return false;
    }

    /// Another process holds the write lock: wait on WaitClock, so that a simulation runs
    /// the wait in virtual time, until busyTimeoutMs have passed since the first refusal.
    static int onBusy(void* context, int count)
    {
        Private* self = static_cast<Private*>(context);
        const auto now = WaitClock::now();
        if (count == 0) {
            self->busySince = now;
        }
        const auto end = self->busySince + std::chrono::milliseconds(self->busyTimeoutMs);
        if (now >= end) {
            return 0;
        }
        pauseUntil(std::min(end, now + busyStep(count)));
        return 1;
    }

    /// `openMode`: this handle's, except when a vanished journal is made anew.
    bool openAt(const QString& where, OpenMode openMode)
    {
        QString problem;
        // Another local user must not steer where a writer's rows go: checked by every
        // writer, the carry-over of a vanished journal included.
        if (openMode != OpenMode::ReadOnly && (!FileIdentity::ownedSafely(where, &problem) ||
                                               !FileIdentity::writableInPlace(where, &problem))) {
            return failWith(problem);
        }
        if (openMode == OpenMode::CreateIfMissing) {
            // Made by us first, for the owner alone: SQLite gives its -wal and -shm files the
            // same mode, whatever the process's umask. O_EXCL follows no link.
            const int fd = ::open(QFile::encodeName(where).constData(),
                                  O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (openMode != OpenMode::ReadOnly && QFileInfo::exists(where) &&
            !FileIdentity::openedSafely(where, &problem)) {
            return failWith(problem);
        }
        const int flags =
            SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW |
            (openMode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
            (openMode == OpenMode::CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
        if (!database.open(where, flags)) {
            return false;
        }
        sqlite3_busy_handler(database.handle(), &Private::onBusy, this);
        bool ready =
            JournalSchema::prepare(database,
                                   openMode == OpenMode::ReadOnly ? JournalSchema::Access::ReadOnly
                                                                  : JournalSchema::Access::Write,
                                   &olderVersion);
        if (ready && openMode != OpenMode::ReadOnly) {
            // Write-ahead log, synced at every commit: a written entry survives a power cut.
            qint64 unused = 0;
            QString journalMode;
            // Changing the mode waits for every other reader to leave, and SQLite asks no busy
            // handler for it: tills opening a new file at once each wait their turn here.
            const auto since = WaitClock::now();
            for (int tries = 0;; ++tries) {
                ready = database.value("PRAGMA journal_mode = WAL", &unused, &journalMode);
                if (ready || !database.lastErrorWasBusy() ||
                    WaitClock::now() - since >= std::chrono::milliseconds(busyTimeoutMs)) {
                    break;
                }
                pauseUntil(WaitClock::now() + busyStep(tries));
            }
            ready = ready && database.execute("PRAGMA synchronous = FULL");
            // Every commit is already synced in the log. Copying it into the main file when
            // the till exits bought no safety and cost two syncs per till command, and the log
            // made anew at the next start one more for its header: the log stays, and is
            // copied back by SQLite's automatic checkpoint once it has grown. The next till
            // command reads the log it finds; 200 pages keep that under a millisecond.
            int kept = 0;
            ready = ready &&
                    sqlite3_db_config(database.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1,
                                      &kept) == SQLITE_OK &&
                    kept == 1 && database.execute("PRAGMA wal_autocheckpoint = 200");
            if (ready && journalMode != "wal") {
                ready = failWith(QString("the file system keeps the journal in mode \"%1\", not "
                                         "the write-ahead log it needs")
                                     .arg(journalMode));
            }
        }
        if (!ready) {
            database.close();
            return false;
        }
        file = FileIdentity::of(where);
        return true;
    }

    /// The rows `where` selects; `texts` are bound to ?1, ?2, ... in order, then `numbers`.
    /// Values are never written into the text: each text is prepared once and kept.
    bool readEntries(const QByteArray& where, QVector<JournalEntry>* out,
                     const QStringList& texts = {}, const QList<qint64>& numbers = {}) const
    {
        const QByteArray sql =
            QByteArray("SELECT ") + JournalSchema::columns() + " FROM operations " + where;
        SqliteStatement statement(database, sql.constData());
        if (!statement.prepared()) {
            return fail("cannot read the journal");
        }
        for (int i = 0; i < texts.size(); ++i) {
            statement.bind(i + 1, texts[i]);
        }
        for (int i = 0; i < numbers.size(); ++i) {
            statement.bind(int(texts.size()) + i + 1, numbers[i]);
        }
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
            JournalEntry entry;
            if (!readEntry(statement, &entry)) {
                return failWith(
                    QString("the entry %1 holds an unknown operation or state").arg(entry.id));
            }
            out->append(entry);
        }
        return step == SQLITE_DONE || fail("cannot read the journal");
    }

    /// Before a write: the file at the configured path must be the one open here, and this
    /// handle's owner file must still be there. When either vanished (a folder deleted under
    /// a running till), the journal is made anew at its path with every row.
    /// `unlessEmpty`: nothing is made anew when no unsettled row needs carrying.
    bool ensureInPlace(bool unlessEmpty = false)
    {
        if (FileIdentity::of(path) == file && owner.holds()) {
            return true;
        }
        // Every row goes: settled ones are the day's record, unsettled ones recovery's work.
        // When another till already carried its rows into a journal made anew, that file is
        // the newer truth: only this handle's own rows go, written over that till's copies,
        // and no stale copy of a row settled (or purged) there comes back.
        QVector<JournalEntry> keep;
        if (!readEntries(QByteArray(), &keep)) {
            return false;
        }
        const auto countUnsettled = [&keep] {
            return int(std::count_if(keep.begin(), keep.end(),
                                     [](const JournalEntry& row) { return !row.isSettled(); }));
        };
        if (unlessEmpty && countUnsettled() == 0) {
            return true;
        }
        // The file that left stays open here until the new one holds every row: when making
        // it fails, nothing is lost, and the next write tries again.
        SqliteDatabase left = std::move(database);
        const FileIdentity leftFile = file;
        const auto keepLeft = [&] {
            const QString error = database.error();
            database = std::move(left);
            database.setError(error);
            file = leftFile;
            return false;
        };
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!openAt(path, OpenMode::CreateIfMissing)) {
            return keepLeft();
        }
        qint64 present = 0;
        if (!database.value("SELECT count(*) FROM operations", &present)) {
            return keepLeft();
        }
        if (present > 0) {
            const QString mine = owner.token();
            keep.erase(std::remove_if(keep.begin(), keep.end(),
                                      [&](const JournalEntry& row) { return row.owner != mine; }),
                       keep.end());
        }
        // All rows or none: a half carried-over journal would hide the rest from recovery.
        if (!database.execute("BEGIN IMMEDIATE")) {
            return keepLeft();
        }
        const bool carried = [&] {
            for (const JournalEntry& entry : keep) {
                SqliteStatement statement(database, CarryOver);
                bindEntry(statement, entry);
                // One transaction of its own, which commits whole or not at all.
                if (!statement.prepared() || sqlite3_step(statement.get()) != SQLITE_DONE) {
                    return fail("cannot carry the entries over to the new journal");
                }
            }
            return true;
        }();
        if (!carried || !database.execute("COMMIT")) {
            const QString error = database.error();
            database.execute("ROLLBACK");
            database.setError(error);
            return keepLeft();
        }
        left.close();
        carriedOver += countUnsettled();
        QString ownerError;
        return owner.take(path, &ownerError) || failWith(ownerError);
    }

    /// After a write: when the file left its place meanwhile, the row goes with the others.
    /// `strict`: false even then, for a write that only counts in the file at the path.
    bool keptAfterWrite(bool strict = false)
    {
        if (FileIdentity::of(path) == file) {
            return true;
        }
        return ensureInPlace() && !strict;
    }

    /// Everything a write needs first: an open file in its place, and no injected fault.
    bool writable()
    {
        database.clearBusy();
        if (!database.isOpen()) {
            return failWith("the journal is not open");
        }
        if (mode == OpenMode::ReadOnly) {
            return failWith("the journal is open read-only");
        }
        if (Journal::failingWrites.load() > 0 && Journal::failingWrites.fetch_sub(1) > 0) {
            return failWith("cannot write to the journal: disk I/O error (injected)");
        }
        return ensureInPlace();
    }
};

Journal::Journal() : d(new Private) {}

Journal::~Journal()
{
    close();
}

bool Journal::open(const QString& path, OpenMode mode)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->database.close();
    d->owner.release();
    d->path = path;
    d->mode = mode;
    d->carriedOver = 0;
    if (path.isEmpty()) {
        return d->failWith("no path given");
    }
    if (!d->openAt(path, mode)) {
        return false;
    }
    QString ownerError;
    if (mode != OpenMode::ReadOnly && !d->owner.take(path, &ownerError)) {
        d->database.close();
        return d->fail(ownerError);
    }
    return true;
}

bool Journal::isUsable(const QString& path, QString* problem)
{
    Journal journal;
    if (journal.open(path, OpenMode::ReadOnly) || journal.d->olderVersion) {
        return true;
    }
    *problem = journal.errorString();
    return false;
}

bool Journal::keepInPlace()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return !d->database.isOpen() || d->mode == OpenMode::ReadOnly || d->ensureInPlace();
}

void Journal::close()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->database.isOpen() && d->mode != OpenMode::ReadOnly) {
        // A till that ends takes no unsettled row away with a vanished file.
        d->ensureInPlace(true);
    }
    d->database.close();
    d->owner.release();
}

bool Journal::isOpen() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->database.isOpen();
}

QString Journal::path() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

bool Journal::lastErrorWasBusy() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->database.lastErrorWasBusy();
}

QString Journal::errorString() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->database.error();
}

QString Journal::owner() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->database.isOpen() && d->mode != OpenMode::ReadOnly ? d->owner.token() : QString();
}

bool Journal::isOwnerAlive(const QString& owner) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->database.isOpen() && d->mode != OpenMode::ReadOnly && owner == d->owner.token()) {
        return true;
    }
    return JournalOwner::isAlive(d->path, owner);
}

void Journal::setBusyTimeout(int milliseconds)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->busyTimeoutMs = milliseconds < 0 ? DefaultBusyTimeoutMs : milliseconds;
}

int Journal::carriedOver() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->carriedOver;
}

bool Journal::record(JournalEntry* entry)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    // The statement ends before the place is checked: making the journal anew finalizes it.
    const bool written = [&] {
        if (!d->writable()) {
            return false;
        }
        entry->owner = d->owner.token();
        entry->changed = wallClock();
        if (!entry->created.isValid()) {
            entry->created = entry->changed;
        }
        SqliteStatement statement(d->database, Upsert);
        if (!statement.prepared()) {
            return d->fail("cannot write to the journal");
        }
        bindEntry(statement, *entry);
        if (stepWrite(statement.get()) != SQLITE_DONE) {
            return d->fail("cannot write to the journal");
        }
        if (d->database.changes() != 1) {
            return d->failWith(
                QString("the entry %1 belongs to another till's journal handle").arg(entry->id));
        }
        return true;
    }();
    return written && d->keptAfterWrite();
}

bool Journal::recordAndRelease(JournalEntry* entry)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    // The statement ends before the place is checked: making the journal anew finalizes it.
    const bool written = [&] {
        if (!d->writable()) {
            return false;
        }
        const QDateTime now = wallClock();
        SqliteStatement statement(
            d->database, "UPDATE operations SET payment_id = ?1, state = ?2, "
                         "provider_status = ?3, message_key = ?4, changed_ms = ?5, "
                         "owner = '', provider_text = ?8, refusals = ?9, first_refused_ms = ?10, "
                         "retry_after_ms = ?11, not_carried_since_ms = ?12, first_answer_ms = ?13, "
                         "ended_ms = ?14 WHERE id = ?6 AND owner = ?7");
        if (!statement.prepared()) {
            return d->fail("cannot write to the journal");
        }
        statement.bind(1, entry->paymentId);
        statement.bind(2, JournalEntry::stateName(entry->state));
        statement.bind(3, entry->providerStatus);
        statement.bind(4, entry->messageKey);
        statement.bind(5, now.toMSecsSinceEpoch());
        statement.bind(6, entry->id);
        statement.bind(7, d->owner.token());
        statement.bind(8, entry->providerText);
        statement.bind(9, qint64(entry->refusals));
        statement.bind(10, msOrZero(entry->firstRefused));
        statement.bind(11, msOrZero(entry->retryAfter));
        statement.bind(12, msOrZero(entry->notCarriedSince));
        statement.bind(13, msOrZero(entry->firstAnswer));
        statement.bind(14, msOrZero(entry->ended));
        if (stepWrite(statement.get()) != SQLITE_DONE) {
            return d->fail("cannot write to the journal");
        }
        if (d->database.changes() != 1) {
            return d->failWith(
                QString("the entry %1 is not this handle's to write").arg(entry->id));
        }
        entry->changed = now;
        entry->owner.clear();
        return true;
    }();
    return written && d->keptAfterWrite();
}

bool Journal::claim(JournalEntry* seen, JournalEntry::State state)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    // The statement ends before the place is checked: making the journal anew finalizes it.
    const bool written = [&] {
        if (!d->writable()) {
            return false;
        }
        const QDateTime now = wallClock();
        SqliteStatement statement(d->database,
                                  "UPDATE operations SET owner = ?1, state = ?2, changed_ms = ?3 "
                                  "WHERE id = ?4 AND owner = ?5 AND state = ?6");
        if (!statement.prepared()) {
            return d->fail("cannot claim a journal entry");
        }
        statement.bind(1, d->owner.token());
        statement.bind(2, JournalEntry::stateName(state));
        statement.bind(3, now.toMSecsSinceEpoch());
        statement.bind(4, seen->id);
        statement.bind(5, seen->owner);
        statement.bind(6, JournalEntry::stateName(seen->state));
        if (stepWrite(statement.get()) != SQLITE_DONE) {
            return d->fail("cannot claim a journal entry");
        }
        if (d->database.changes() != 1) {
            return d->failWith(QString("the entry %1 was taken by another recovery").arg(seen->id));
        }
        seen->owner = d->owner.token();
        seen->state = state;
        seen->changed = now;
        return true;
    }();
    if (!written) {
        return false;
    }
    if (d->keptAfterWrite(true)) {
        return true;
    }
    // The claim went into the file that left: it proves nothing about the journal at the
    // path, where another till may have settled the row.
    return d->failWith(
        QString("the journal moved while %1 was claimed: claim it again").arg(seen->id));
}

bool Journal::resolve(const QString& id, const QString& note)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->writable()) {
        return false;
    }
    const qint64 now = wallClock().toMSecsSinceEpoch();
    SqliteStatement statement(d->database,
                              "UPDATE operations SET state = ?4, note = ?1, "
                              "resolved_ms = ?2, changed_ms = ?2 WHERE id = ?3 AND state = ?5");
    if (!statement.prepared()) {
        return d->fail("cannot resolve a journal entry");
    }
    statement.bind(1, note);
    statement.bind(2, now);
    statement.bind(3, id);
    statement.bind(4, JournalEntry::stateName(JournalEntry::State::Resolved));
    statement.bind(5, JournalEntry::stateName(JournalEntry::State::Attention));
    if (stepWrite(statement.get()) != SQLITE_DONE) {
        return d->fail("cannot resolve a journal entry");
    }
    if (d->database.changes() != 1) {
        return d->failWith(QString("no entry %1 waits for a person").arg(id));
    }
    return true;
}

bool Journal::entries(QVector<JournalEntry>* out, bool unsettledOnly) const
{
    Filter filter;
    filter.unsettledOnly = unsettledOnly;
    return entries(out, filter);
}

bool Journal::entries(QVector<JournalEntry>* out, const Filter& filter) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    out->clear();
    if (!d->database.isOpen()) {
        return d->failWith("the journal is not open");
    }
    QStringList where;
    QStringList texts;
    if (filter.unsettledOnly) {
        where << "state IN " + QString::fromLatin1(JournalSchema::unsettledStates());
    }
    if (!filter.id.isEmpty()) {
        texts << filter.id;
        where << QString("id = ?%1").arg(texts.size());
    }
    if (!filter.paymentId.isEmpty()) {
        texts << filter.paymentId;
        where << QString("payment_id = ?%1").arg(texts.size());
    }
    QList<qint64> numbers;
    if (filter.since.isValid()) {
        numbers << filter.since.toMSecsSinceEpoch();
        where << QString("created_ms >= ?%1").arg(texts.size() + numbers.size());
    }
    if (filter.until.isValid()) {
        numbers << filter.until.toMSecsSinceEpoch();
        where << QString("created_ms < ?%1").arg(texts.size() + numbers.size());
    }
    const QByteArray condition =
        where.isEmpty() ? QByteArray() : "WHERE " + where.join(" AND ").toLatin1();
    return d->readEntries(condition + " ORDER BY created_ms DESC, rowid DESC", out, texts, numbers);
}

int Journal::removeSettledBefore(const QDateTime& before)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->writable()) {
        return -1;
    }
    const QByteArray sql = QByteArray("DELETE FROM operations WHERE state IN ") +
                           JournalSchema::settledStates() + " AND changed_ms < ?1";
    SqliteStatement statement(d->database, sql.constData());
    if (!statement.prepared()) {
        d->fail("cannot clean the journal");
        return -1;
    }
    statement.bind(1, before.toMSecsSinceEpoch());
    if (stepWrite(statement.get()) != SQLITE_DONE) {
        d->fail("cannot clean the journal");
        return -1;
    }
    const int removed = d->database.changes();
    if (removed > 0 &&
        !d->database.execute(
            "DELETE FROM reconciliations WHERE id NOT IN (SELECT id FROM operations)")) {
        return -1;
    }
    return removed;
}

bool Journal::noteReconciliation(const QString& id, const QString& providerStatus)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->writable()) {
        return false;
    }
    SqliteStatement statement(d->database,
                              "INSERT INTO reconciliations (id, checked_ms, provider_status) "
                              "VALUES (?1, ?2, ?3) ON CONFLICT (id) DO UPDATE SET "
                              "checked_ms = excluded.checked_ms, "
                              "provider_status = excluded.provider_status");
    if (!statement.prepared()) {
        return d->fail("cannot keep a reconciliation");
    }
    statement.bind(1, id);
    statement.bind(2, wallClock().toMSecsSinceEpoch());
    statement.bind(3, providerStatus);
    return stepWrite(statement.get()) == SQLITE_DONE || d->fail("cannot keep a reconciliation");
}

bool Journal::reconciliations(QHash<QString, Reconciliation>* out) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    out->clear();
    if (!d->database.isOpen()) {
        return d->failWith("the journal is not open");
    }
    SqliteStatement statement(d->database,
                              "SELECT id, checked_ms, provider_status FROM reconciliations");
    if (!statement.prepared()) {
        return d->fail("cannot read the reconciliations");
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        out->insert(statement.text(0), {timeOrNone(statement.integer(1)), statement.text(2)});
    }
    return step == SQLITE_DONE || d->fail("cannot read the reconciliations");
}

bool Journal::noteRun(const QString& name, int exitCode, qint64 figure)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->writable()) {
        return false;
    }
    SqliteStatement statement(d->database,
                              "INSERT INTO runs (name, finished_ms, exit_code, figure) "
                              "VALUES (?1, ?2, ?3, ?4) ON CONFLICT (name) DO UPDATE SET "
                              "finished_ms = excluded.finished_ms, "
                              "exit_code = excluded.exit_code, figure = excluded.figure");
    if (!statement.prepared()) {
        return d->fail("cannot keep how a run ended");
    }
    statement.bind(1, name);
    statement.bind(2, wallClock().toMSecsSinceEpoch());
    statement.bind(3, qint64(exitCode));
    statement.bind(4, figure);
    return stepWrite(statement.get()) == SQLITE_DONE || d->fail("cannot keep how a run ended");
}

bool Journal::lastRun(const QString& name, Run* out) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    *out = Run();
    if (!d->database.isOpen()) {
        return d->failWith("the journal is not open");
    }
    SqliteStatement statement(d->database,
                              "SELECT finished_ms, exit_code, figure FROM runs WHERE name = ?1");
    if (!statement.prepared()) {
        return d->fail("cannot read how a run ended");
    }
    statement.bind(1, name);
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_ROW) {
        *out = {timeOrNone(statement.integer(0)), int(statement.integer(1)), statement.integer(2)};
    }
    return step == SQLITE_ROW || step == SQLITE_DONE || d->fail("cannot read how a run ended");
}

} // namespace oxlenpay
