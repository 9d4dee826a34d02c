#include "journal.h"

#include "journalowner.h"
#include "waitclock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStringList>

#include <algorithm>

#include <fcntl.h>
#include <linux/fs.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlenpay {

namespace {

// "OXJL": tells our files from any other SQLite database.
constexpr int ApplicationId = 0x4F584A4C;
constexpr int DefaultBusyTimeoutMs = 5000;

#define OPERATIONS_TABLE(name)                                                                     \
    "CREATE TABLE " name " (\n"                                                                    \
    "    id TEXT PRIMARY KEY NOT NULL,\n"                                                          \
    "    operation TEXT NOT NULL\n"                                                                \
    "        CHECK (operation IN ('sale', 'reversal', 'partialReversal', 'fiscal')),\n"            \
    "    amount INTEGER NOT NULL,\n"                                                               \
    "    currency INTEGER NOT NULL,\n"                                                             \
    "    payment_id TEXT NOT NULL DEFAULT '',\n"                                                   \
    "    state TEXT NOT NULL CHECK (state IN ('sending', 'waiting', 'done', 'declined',\n"         \
    "        'reversed', 'unknown', 'attention', 'resolved')),\n"                                  \
    "    provider_status TEXT NOT NULL DEFAULT '',\n"                                              \
    "    message_key TEXT NOT NULL DEFAULT '',\n"                                                  \
    "    created_ms INTEGER NOT NULL,\n"                                                           \
    "    changed_ms INTEGER NOT NULL,\n"                                                           \
    "    owner_pid INTEGER NOT NULL,\n"                                                            \
    "    owner_start INTEGER NOT NULL,\n"                                                          \
    "    owner TEXT NOT NULL DEFAULT '',\n"                                                        \
    "    note TEXT NOT NULL DEFAULT '',\n"                                                         \
    "    resolved_ms INTEGER NOT NULL DEFAULT 0,\n"                                                \
    "    provider_text TEXT NOT NULL DEFAULT ''\n"                                                 \
    ");\n"

// The states of rows still at work, and of settled ones. The listings and the purge write
// their conditions with these very texts, so that SQLite answers them from the partial
// indexes below instead of reading every row.
#define UNSETTLED_STATES "('sending', 'waiting', 'unknown', 'attention')"
#define SETTLED_STATES "('done', 'declined', 'reversed', 'resolved')"

#define UNSETTLED_INDEX                                                                            \
    "CREATE INDEX IF NOT EXISTS operations_unsettled ON operations (state)\n"                      \
    "    WHERE state IN " UNSETTLED_STATES ";\n"

// 2 -> 3: recovery counts the provider's refusals of a row and paces its next try, and
// times how long a cancel's payment has still shown charged.
#define REFUSAL_COLUMNS                                                                            \
    "ALTER TABLE operations ADD COLUMN refusals INTEGER NOT NULL DEFAULT 0;\n"                     \
    "ALTER TABLE operations ADD COLUMN first_refused_ms INTEGER NOT NULL DEFAULT 0;\n"             \
    "ALTER TABLE operations ADD COLUMN retry_after_ms INTEGER NOT NULL DEFAULT 0;\n"               \
    "ALTER TABLE operations ADD COLUMN not_carried_since_ms INTEGER NOT NULL DEFAULT 0;\n"

const char* const Schema = OPERATIONS_TABLE("operations") UNSETTLED_INDEX REFUSAL_COLUMNS;

// Listings by time and the purge of settled rows, whatever the journal's size. Made at every
// writing open: an index needs no new schema version.
const char* const Indexes =
    "CREATE INDEX IF NOT EXISTS operations_created ON operations (created_ms);\n"
    "CREATE INDEX IF NOT EXISTS operations_settled_changed ON operations (changed_ms)\n"
    "    WHERE state IN " SETTLED_STATES ";\n";

// The ladder of schema changes: step N takes a file from version N to N + 1. Every
// later change adds one step; the whole climb runs in one transaction.
const char* const Migrations[] = {
    // 1 -> 2: rows get an owner handle, a note and a time of resolution; "unknown"
    // becomes recovery's work, so the closed unknowns of version 1 are kept for a person.
    OPERATIONS_TABLE(
        "operations_next") "INSERT INTO operations_next (id, operation, amount, currency, "
                           "payment_id, state,\n"
                           "    provider_status, message_key, created_ms, changed_ms, owner_pid, "
                           "owner_start)\n"
                           "SELECT id, operation, amount, currency, payment_id,\n"
                           "    CASE state WHEN 'unknown' THEN 'attention' ELSE state END,\n"
                           "    provider_status, message_key, created_ms, changed_ms, owner_pid, "
                           "owner_start\n"
                           "FROM operations;\n"
                           "DROP TABLE operations;\n"
                           "ALTER TABLE operations_next RENAME TO operations;\n" UNSETTLED_INDEX,
    REFUSAL_COLUMNS,
};
static_assert(sizeof Migrations / sizeof *Migrations == Journal::SchemaVersion - 1,
              "one migration step per schema version");

#undef OPERATIONS_TABLE
#undef UNSETTLED_INDEX
#undef REFUSAL_COLUMNS

const char* const Columns = "id, operation, amount, currency, payment_id, state, provider_status, "
                            "message_key, created_ms, changed_ms, owner_pid, owner_start, owner, "
                            "note, resolved_ms, provider_text, refusals, first_refused_ms, "
                            "retry_after_ms, not_carried_since_ms";

// Writes a whole row; an existing one changes only under the condition that follows.
#define UPSERT_ROW                                                                                 \
    "INSERT INTO operations (id, operation, amount, currency, payment_id, state, "                 \
    "provider_status,\n"                                                                           \
    "                        message_key, created_ms, changed_ms, owner_pid, owner_start, "        \
    "owner,\n"                                                                                     \
    "                        note, resolved_ms, provider_text, refusals, first_refused_ms,\n"      \
    "                        retry_after_ms, not_carried_since_ms)\n"                              \
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, "    \
    "?19,\n"                                                                                       \
    "        ?20)\n"                                                                               \
    "ON CONFLICT (id) DO UPDATE SET\n"                                                             \
    "    payment_id = excluded.payment_id, state = excluded.state,\n"                              \
    "    provider_status = excluded.provider_status, message_key = excluded.message_key,\n"        \
    "    changed_ms = excluded.changed_ms, provider_text = excluded.provider_text,\n"              \
    "    refusals = excluded.refusals, first_refused_ms = excluded.first_refused_ms,\n"            \
    "    retry_after_ms = excluded.retry_after_ms,\n"                                              \
    "    not_carried_since_ms = excluded.not_carried_since_ms\n"

// A known row changes only for the handle that owns it.
const char* const Upsert = UPSERT_ROW "WHERE operations.owner = excluded.owner";

// The same when a journal is made anew: a copy another till carried is written over only by
// the handle that owns the row, never by one of a released row.
const char* const CarryOver =
    UPSERT_ROW "WHERE operations.owner = excluded.owner AND excluded.owner <> ''";

#undef UPSERT_ROW

const char* const Settled = SETTLED_STATES;
const char* const Unsettled = UNSETTLED_STATES;

qint64 msOrZero(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

QDateTime timeOrNone(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

/// The statements of one connection, prepared once and kept until it closes: preparing
/// costs more than running most of them.
class StatementCache {
public:
    ~StatementCache() { clear(); }
    /// The prepared `sql` of `db`, or null when it does not prepare.
    sqlite3_stmt* get(sqlite3* db, const char* sql)
    {
        if (db != m_db) {
            clear();
            m_db = db;
        }
        const QByteArray key(sql);
        sqlite3_stmt* statement = m_statements.value(key);
        if (!statement && sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            statement) {
            m_statements.insert(key, statement);
        }
        return statement;
    }
    /// Finalizes every statement: before the connection closes.
    void clear()
    {
        for (sqlite3_stmt* statement : std::as_const(m_statements)) {
            sqlite3_finalize(statement);
        }
        m_statements.clear();
        m_db = nullptr;
    }

private:
    sqlite3* m_db = nullptr;
    QHash<QByteArray, sqlite3_stmt*> m_statements;
};

/// A use of a cached statement: reset and unbound on every path when it ends, so that it
/// holds no read transaction open.
class Statement {
public:
    Statement(StatementCache& cache, sqlite3* db, const char* sql) : m_statement(cache.get(db, sql))
    {
    }
    ~Statement()
    {
        if (m_statement) {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }
    void bind(int index, const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    }
    void bind(int index, qint64 value) { sqlite3_bind_int64(m_statement, index, value); }
    QString text(int column) const
    {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
            sqlite3_column_bytes(m_statement, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }

    /// Binds every column of `entry`, in the order of Columns.
    void bindEntry(const JournalEntry& entry)
    {
        bind(1, entry.id);
        bind(2, JournalEntry::operationName(entry.operation));
        bind(3, entry.amount);
        bind(4, qint64(entry.currency));
        bind(5, entry.paymentId);
        bind(6, JournalEntry::stateName(entry.state));
        bind(7, entry.providerStatus);
        bind(8, entry.messageKey);
        bind(9, entry.created.toMSecsSinceEpoch());
        bind(10, entry.changed.toMSecsSinceEpoch());
        bind(11, entry.ownerPid);
        bind(12, entry.ownerStart);
        bind(13, entry.owner);
        bind(14, entry.note);
        bind(15, entry.resolved.isValid() ? entry.resolved.toMSecsSinceEpoch() : qint64(0));
        bind(16, entry.providerText);
        bind(17, qint64(entry.refusals));
        bind(18, msOrZero(entry.firstRefused));
        bind(19, msOrZero(entry.retryAfter));
        bind(20, msOrZero(entry.notCarriedSince));
    }

    /// The row at the cursor, read in the order of Columns; false for names it does not know.
    bool readEntry(JournalEntry* entry) const
    {
        entry->id = text(0);
        entry->amount = integer(2);
        entry->currency = int(integer(3));
        entry->paymentId = text(4);
        entry->providerStatus = text(6);
        entry->messageKey = text(7);
        entry->created = QDateTime::fromMSecsSinceEpoch(integer(8), Qt::UTC);
        entry->changed = QDateTime::fromMSecsSinceEpoch(integer(9), Qt::UTC);
        entry->ownerPid = integer(10);
        entry->ownerStart = integer(11);
        entry->owner = text(12);
        entry->note = text(13);
        entry->resolved =
            integer(14) > 0 ? QDateTime::fromMSecsSinceEpoch(integer(14), Qt::UTC) : QDateTime();
        entry->providerText = text(15);
        entry->refusals = int(integer(16));
        entry->firstRefused = timeOrNone(integer(17));
        entry->retryAfter = timeOrNone(integer(18));
        entry->notCarriedSince = timeOrNone(integer(19));
        return JournalEntry::operationFromName(text(1), &entry->operation) &&
               JournalEntry::stateFromName(text(5), &entry->state);
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;

    static FileIdentity of(const QString& path)
    {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
            return {};
        }
        return {info.st_dev, info.st_ino, true};
    }
    bool operator==(const FileIdentity& other) const
    {
        return known && other.known && device == other.device && inode == other.inode;
    }
};

// Whether `path` (a file, or a folder when `folder`) can be written by this process: its
// mode for this user (root ignores the mode bits, so that alone proves nothing), and
// neither the immutable nor the append-only flag, which stop root too. SQLite maps the
// "-shm" file: one it cannot write ends the process with SIGBUS instead of an error.
bool writableFile(const QString& path, bool folder, QString* problem)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        return true; // made anew, by this process
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW |
                                                (folder ? O_DIRECTORY : 0));
    int flags = 0;
    const bool known = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
        *problem = QString("%1 is marked %2: nothing can change it")
                       .arg(path, (flags & FS_IMMUTABLE_FL) ? "immutable" : "append-only");
        return false;
    }
    const int access = folder ? W_OK | X_OK : W_OK | R_OK;
    if (::faccessat(AT_FDCWD, name.constData(), access, AT_EACCESS) != 0) {
        *problem = QString("%1 cannot be written by this user").arg(path);
        return false;
    }
    return true;
}

// The journal, its write-ahead log, its shared-memory index and its folder, checked before
// SQLite opens or maps any of them.
bool writableInPlace(const QString& path, QString* problem)
{
    return writableFile(QFileInfo(path).absolutePath(), true, problem) &&
           writableFile(path, false, problem) && writableFile(path + "-wal", false, problem) &&
           writableFile(path + "-shm", false, problem);
}

// How long a write waits between tries while another process holds the write lock.
std::chrono::milliseconds busyStep(int count)
{
    static const int steps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int last = sizeof steps / sizeof *steps - 1;
    return std::chrono::milliseconds(steps[count < last ? count : last]);
}

void reachCrashPoint(const char* where)
{
    if (Journal::crashPoint) {
        Journal::crashPoint(where);
    }
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
    mutable QMutex mutex;
    sqlite3* db = nullptr;
    mutable StatementCache statements;
    QString path;
    OpenMode mode = OpenMode::CreateIfMissing;
    FileIdentity file;
    JournalOwner owner;
    int busyTimeoutMs = DefaultBusyTimeoutMs;
    WaitClock::TimePoint busySince;
    int carriedOver = 0;
    bool olderVersion = false; // a read-only open met a file a writer would migrate
    mutable QString error;
    mutable bool busy = false; ///< the last failure was another process's lock

    bool fail(const QString& what) const
    {
        error = db ? QString("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))) : what;
        const int code = db ? sqlite3_errcode(db) & 0xff : SQLITE_OK;
        busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
        return false;
    }

    bool execute(const char* sql) const
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ||
               fail(QString("cannot run \"%1\"").arg(QString(sql).simplified().left(40)));
    }

    /// The single value a pragma or a count answers.
    bool value(const char* sql, qint64* number, QString* text = nullptr) const
    {
        Statement statement(statements, db, sql);
        if (!statement.prepared() || sqlite3_step(statement.get()) != SQLITE_ROW) {
            return fail("cannot read the database");
        }
        *number = statement.integer(0);
        if (text) {
            *text = statement.text(0);
        }
        return true;
    }

    bool inTransaction(const QByteArray& sql, const QString& what)
    {
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return fail(what);
        }
        reachCrashPoint("in a transaction, before its statements");
        const bool done = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        reachCrashPoint("in a transaction, before its commit");
        if (!done || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail(what);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
        return true;
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
        std::mutex mutex;
        std::condition_variable never;
        std::unique_lock<std::mutex> lock(mutex);
        WaitClock::waitUntil(lock, never, std::min(end, now + busyStep(count)));
        return 1;
    }

    bool prepareSchema()
    {
        qint64 applicationId = 0;
        qint64 tables = 0;
        qint64 version = 0;
        if (!value("PRAGMA application_id", &applicationId) ||
            !value("SELECT count(*) FROM sqlite_master", &tables) ||
            !value("PRAGMA user_version", &version)) {
            return false;
        }
        const QByteArray stamp = "PRAGMA user_version = " + QByteArray::number(SchemaVersion) + ";";
        if (applicationId == 0 && tables == 0) {
            if (mode == OpenMode::ReadOnly) {
                error = "the file is empty, not a payment journal";
                return false;
            }
            return inTransaction(QByteArray(Schema) + Indexes + "PRAGMA application_id = " +
                                     QByteArray::number(ApplicationId) + ";" + stamp,
                                 "cannot create the journal's tables");
        }
        if (applicationId != ApplicationId) {
            error = "the file is another SQLite database, not a payment journal";
            return false;
        }
        if (version > SchemaVersion || version < 1) {
            error = QString("the journal's schema version is %1, this build reads versions 1 to "
                            "%2: it was written by a newer version of the plug-in")
                        .arg(version)
                        .arg(SchemaVersion);
            return false;
        }
        if (version == SchemaVersion) {
            return mode == OpenMode::ReadOnly || execute(Indexes);
        }
        if (mode == OpenMode::ReadOnly) {
            olderVersion = true;
            error = QString("the journal's schema version is %1 and must be migrated to %2 by a "
                            "till that writes it")
                        .arg(version)
                        .arg(SchemaVersion);
            return false;
        }
        QByteArray climb;
        for (qint64 step = version; step < SchemaVersion; ++step) {
            climb += Migrations[step - 1];
        }
        return inTransaction(climb + Indexes + stamp,
                             QString("cannot migrate the journal from version %1 to %2")
                                 .arg(version)
                                 .arg(SchemaVersion));
    }

    bool openAt(const QString& where)
    {
        if (mode != OpenMode::ReadOnly && !writableInPlace(where, &error)) {
            return false;
        }
        if (mode == OpenMode::CreateIfMissing) {
            // Made by us first, for the owner alone: SQLite gives its -wal and -shm files the
            // same mode, whatever the process's umask.
            const int fd = ::open(QFile::encodeName(where).constData(),
                                  O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
            }
        }
        const int flags =
            SQLITE_OPEN_FULLMUTEX |
            (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
            (mode == OpenMode::CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(where.toUtf8().constData(), &db, flags, nullptr) != SQLITE_OK) {
            fail("cannot open the file");
            closeDb();
            return false;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_handler(db, &Private::onBusy, this);
        bool ready = prepareSchema();
        if (ready && mode != OpenMode::ReadOnly) {
            // Write-ahead log, synced at every commit: a written entry survives a power cut.
            qint64 unused = 0;
            QString journalMode;
            ready = value("PRAGMA journal_mode = WAL", &unused, &journalMode) &&
                    execute("PRAGMA synchronous = FULL");
            // Every commit is already synced in the log. Copying it into the main file when
            // the till exits bought no safety and cost two syncs per till command, and the log
            // made anew at the next start one more for its header: the log stays, and is
            // copied back by SQLite's automatic checkpoint once it has grown. The next till
            // command reads the log it finds; 200 pages keep that under a millisecond.
            int kept = 0;
            ready =
                ready &&
                sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &kept) == SQLITE_OK &&
                kept == 1 && execute("PRAGMA wal_autocheckpoint = 200");
            if (ready && journalMode != "wal") {
                error = QString("the file system keeps the journal in mode \"%1\", not the "
                                "write-ahead log it needs")
                            .arg(journalMode);
                ready = false;
            }
        }
        if (!ready) {
            closeDb();
            return false;
        }
        file = FileIdentity::of(where);
        return true;
    }

    void closeDb()
    {
        statements.clear();
        sqlite3_close_v2(db);
        db = nullptr;
    }

    /// The rows `where` selects; `texts` are bound to ?1, ?2, ... in order, then `numbers`.
    /// Values are never written into the text: each text is prepared once and kept.
    bool readEntries(const QByteArray& where, QVector<JournalEntry>* out,
                     const QStringList& texts = {}, const QList<qint64>& numbers = {}) const
    {
        const QByteArray sql = QByteArray("SELECT ") + Columns + " FROM operations " + where;
        Statement statement(statements, db, sql.constData());
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
            if (!statement.readEntry(&entry)) {
                error = QString("the entry %1 holds an unknown operation or state").arg(entry.id);
                return false;
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
        sqlite3* const left = db;
        const FileIdentity leftFile = file;
        statements.clear();
        db = nullptr;
        const auto keepLeft = [&] {
            if (db) {
                closeDb();
            }
            db = left;
            file = leftFile;
            return false;
        };
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!openAt(path)) {
            return keepLeft();
        }
        qint64 present = 0;
        if (!value("SELECT count(*) FROM operations", &present)) {
            return keepLeft();
        }
        if (present > 0) {
            const QString mine = owner.token();
            keep.erase(std::remove_if(keep.begin(), keep.end(),
                                      [&](const JournalEntry& row) { return row.owner != mine; }),
                       keep.end());
        }
        // All rows or none: a half carried-over journal would hide the rest from recovery.
        if (!execute("BEGIN IMMEDIATE")) {
            return keepLeft();
        }
        const bool carried = [&] {
            for (const JournalEntry& entry : keep) {
                Statement statement(statements, db, CarryOver);
                statement.bindEntry(entry);
                // One transaction of its own, which commits whole or not at all.
                if (!statement.prepared() || sqlite3_step(statement.get()) != SQLITE_DONE) {
                    return fail("cannot carry the entries over to the new journal");
                }
            }
            return true;
        }();
        if (!carried || !execute("COMMIT")) {
            execute("ROLLBACK");
            return keepLeft();
        }
        sqlite3_close_v2(left);
        carriedOver += countUnsettled();
        QString ownerError;
        return owner.take(path, &ownerError) || fail(ownerError);
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
        busy = false;
        if (!db) {
            return fail("the journal is not open");
        }
        if (mode == OpenMode::ReadOnly) {
            return fail("the journal is open read-only");
        }
        if (Journal::failingWrites.load() > 0 && Journal::failingWrites.fetch_sub(1) > 0) {
            error = "cannot write to the journal: disk I/O error (injected)";
            return false;
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
    QMutexLocker lock(&d->mutex);
    d->closeDb();
    d->owner.release();
    d->path = path;
    d->mode = mode;
    d->carriedOver = 0;
    if (path.isEmpty()) {
        return d->fail("no path given");
    }
    if (!d->openAt(path)) {
        return false;
    }
    QString ownerError;
    if (mode != OpenMode::ReadOnly && !d->owner.take(path, &ownerError)) {
        d->closeDb();
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
    QMutexLocker lock(&d->mutex);
    return !d->db || d->mode == OpenMode::ReadOnly || d->ensureInPlace();
}

void Journal::close()
{
    QMutexLocker lock(&d->mutex);
    if (d->db && d->mode != OpenMode::ReadOnly) {
        // A till that ends takes no unsettled row away with a vanished file.
        d->ensureInPlace(true);
    }
    d->closeDb();
    d->owner.release();
}

bool Journal::isOpen() const
{
    QMutexLocker lock(&d->mutex);
    return d->db != nullptr;
}

QString Journal::path() const
{
    QMutexLocker lock(&d->mutex);
    return d->path;
}

bool Journal::lastErrorWasBusy() const
{
    QMutexLocker lock(&d->mutex);
    return d->busy;
}

QString Journal::errorString() const
{
    QMutexLocker lock(&d->mutex);
    return d->error;
}

QString Journal::owner() const
{
    QMutexLocker lock(&d->mutex);
    return d->db && d->mode != OpenMode::ReadOnly ? d->owner.token() : QString();
}

bool Journal::isOwnerAlive(const QString& owner) const
{
    QMutexLocker lock(&d->mutex);
    if (d->db && d->mode != OpenMode::ReadOnly && owner == d->owner.token()) {
        return true;
    }
    return JournalOwner::isAlive(d->path, owner);
}

void Journal::setBusyTimeout(int milliseconds)
{
    QMutexLocker lock(&d->mutex);
    d->busyTimeoutMs = milliseconds < 0 ? DefaultBusyTimeoutMs : milliseconds;
}

int Journal::carriedOver() const
{
    QMutexLocker lock(&d->mutex);
    return d->carriedOver;
}

bool Journal::record(JournalEntry* entry)
{
    QMutexLocker lock(&d->mutex);
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
        Statement statement(d->statements, d->db, Upsert);
        if (!statement.prepared()) {
            return d->fail("cannot write to the journal");
        }
        statement.bindEntry(*entry);
        if (stepWrite(statement.get()) != SQLITE_DONE) {
            return d->fail("cannot write to the journal");
        }
        if (sqlite3_changes(d->db) != 1) {
            d->error =
                QString("the entry %1 belongs to another till's journal handle").arg(entry->id);
            return false;
        }
        return true;
    }();
    return written && d->keptAfterWrite();
}

bool Journal::recordAndRelease(JournalEntry* entry)
{
    QMutexLocker lock(&d->mutex);
    // The statement ends before the place is checked: making the journal anew finalizes it.
    const bool written = [&] {
        if (!d->writable()) {
            return false;
        }
        const QDateTime now = wallClock();
        Statement statement(
            d->statements, d->db,
            "UPDATE operations SET payment_id = ?1, state = ?2, "
            "provider_status = ?3, message_key = ?4, changed_ms = ?5, "
            "owner = '', provider_text = ?8, refusals = ?9, first_refused_ms = ?10, "
            "retry_after_ms = ?11, not_carried_since_ms = ?12 WHERE id = ?6 AND owner = ?7");
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
        if (stepWrite(statement.get()) != SQLITE_DONE) {
            return d->fail("cannot write to the journal");
        }
        if (sqlite3_changes(d->db) != 1) {
            d->error = QString("the entry %1 is not this handle's to write").arg(entry->id);
            return false;
        }
        entry->changed = now;
        entry->owner.clear();
        return true;
    }();
    return written && d->keptAfterWrite();
}

bool Journal::claim(JournalEntry* seen, JournalEntry::State state)
{
    QMutexLocker lock(&d->mutex);
    // The statement ends before the place is checked: making the journal anew finalizes it.
    const bool written = [&] {
        if (!d->writable()) {
            return false;
        }
        const QDateTime now = wallClock();
        Statement statement(d->statements, d->db,
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
        if (sqlite3_changes(d->db) != 1) {
            d->error = QString("the entry %1 was taken by another recovery").arg(seen->id);
            return false;
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
    d->error = QString("the journal moved while %1 was claimed: claim it again").arg(seen->id);
    return false;
}

bool Journal::resolve(const QString& id, const QString& note)
{
    QMutexLocker lock(&d->mutex);
    if (!d->writable()) {
        return false;
    }
    const qint64 now = wallClock().toMSecsSinceEpoch();
    Statement statement(d->statements, d->db,
                        "UPDATE operations SET state = 'resolved', note = ?1, "
                        "resolved_ms = ?2, changed_ms = ?2 "
                        "WHERE id = ?3 AND state = 'attention'");
    if (!statement.prepared()) {
        return d->fail("cannot resolve a journal entry");
    }
    statement.bind(1, note);
    statement.bind(2, now);
    statement.bind(3, id);
    if (stepWrite(statement.get()) != SQLITE_DONE) {
        return d->fail("cannot resolve a journal entry");
    }
    if (sqlite3_changes(d->db) != 1) {
        d->error = QString("no entry %1 waits for a person").arg(id);
        return false;
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
    QMutexLocker lock(&d->mutex);
    out->clear();
    if (!d->db) {
        return d->fail("the journal is not open");
    }
    QStringList where;
    QStringList texts;
    if (filter.unsettledOnly) {
        where << QString("state IN %1").arg(Unsettled);
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
    QMutexLocker lock(&d->mutex);
    if (!d->writable()) {
        return -1;
    }
    const QByteArray sql =
        QByteArray("DELETE FROM operations WHERE state IN ") + Settled + " AND changed_ms < ?1";
    Statement statement(d->statements, d->db, sql.constData());
    if (!statement.prepared()) {
        d->fail("cannot clean the journal");
        return -1;
    }
    statement.bind(1, before.toMSecsSinceEpoch());
    if (stepWrite(statement.get()) != SQLITE_DONE) {
        d->fail("cannot clean the journal");
        return -1;
    }
    return sqlite3_changes(d->db);
}

} // namespace oxlenpay
