#include "journal.h"

#include <QMutex>

#include <sqlite3.h>

namespace oxlenpay {

namespace {

// "OXJL": tells our files from any other SQLite database.
constexpr int ApplicationId = 0x4F584A4C;
constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 5000;

const char* const Schema = R"(
CREATE TABLE IF NOT EXISTS operations (
    id TEXT PRIMARY KEY NOT NULL,
    operation TEXT NOT NULL
        CHECK (operation IN ('sale', 'reversal', 'partialReversal', 'fiscal')),
    amount INTEGER NOT NULL,
    currency INTEGER NOT NULL,
    payment_id TEXT NOT NULL DEFAULT '',
    state TEXT NOT NULL
        CHECK (state IN ('sending', 'waiting', 'done', 'declined', 'reversed', 'unknown')),
    provider_status TEXT NOT NULL DEFAULT '',
    message_key TEXT NOT NULL DEFAULT '',
    created_ms INTEGER NOT NULL,
    changed_ms INTEGER NOT NULL,
    owner_pid INTEGER NOT NULL,
    owner_start INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS operations_open ON operations (state) WHERE state IN ('sending', 'waiting');
)";

const char* const Upsert = R"(
INSERT INTO operations (id, operation, amount, currency, payment_id, state, provider_status,
                        message_key, created_ms, changed_ms, owner_pid, owner_start)
VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)
ON CONFLICT (id) DO UPDATE SET
    payment_id = excluded.payment_id, state = excluded.state,
    provider_status = excluded.provider_status, message_key = excluded.message_key,
    changed_ms = excluded.changed_ms, owner_pid = excluded.owner_pid,
    owner_start = excluded.owner_start
)";

const char* const SelectColumns =
    "SELECT id, operation, amount, currency, payment_id, state, provider_status, message_key, "
    "created_ms, changed_ms, owner_pid, owner_start FROM operations ";

/// A prepared statement finalized on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        m_result = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_result == SQLITE_OK && m_statement; }
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

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_result = SQLITE_ERROR;
};

} // namespace

struct Journal::Private {
    mutable QMutex mutex;
    sqlite3* db = nullptr;
    QString path;
    mutable QString error;

    bool fail(const QString& what) const
    {
        error = db ? QString("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))) : what;
        return false;
    }

    bool execute(const char* sql) const
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ||
               fail(QString("cannot run \"%1\"").arg(QString(sql).simplified().left(40)));
    }

    /// The single integer a pragma or a count answers.
    bool integer(const char* sql, qint64* value) const
    {
        Statement statement(db, sql);
        if (!statement.prepared() || sqlite3_step(statement.get()) != SQLITE_ROW) {
            return fail("cannot read the database");
        }
        *value = statement.integer(0);
        return true;
    }

    bool prepareSchema()
    {
        qint64 applicationId = 0;
        qint64 tables = 0;
        qint64 version = 0;
        if (!integer("PRAGMA application_id", &applicationId) ||
            !integer("SELECT count(*) FROM sqlite_master", &tables) ||
            !integer("PRAGMA user_version", &version)) {
            return false;
        }
        if (applicationId == 0 && tables == 0) {
            const QByteArray create =
                QByteArray("BEGIN IMMEDIATE;") + Schema + QByteArray("PRAGMA application_id = ") +
                QByteArray::number(ApplicationId) +
                ";PRAGMA user_version = " + QByteArray::number(SchemaVersion) + ";COMMIT;";
            if (sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                fail("cannot create the journal's tables");
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                return false;
            }
            return true;
        }
        if (applicationId != ApplicationId) {
            error = "the file is another SQLite database, not a payment journal";
            return false;
        }
        if (version != SchemaVersion) {
            error = QString("the journal's schema version is %1, this plug-in reads %2")
                        .arg(version)
                        .arg(SchemaVersion);
            return false;
        }
        return true;
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
    if (d->db) {
        sqlite3_close_v2(d->db);
        d->db = nullptr;
    }
    d->path = path;
    if (path.isEmpty()) {
        return d->fail("no path given");
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX |
                      (mode == OpenMode::CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.toUtf8().constData(), &d->db, flags, nullptr) != SQLITE_OK) {
        d->fail("cannot open the file");
        sqlite3_close_v2(d->db);
        d->db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(d->db, 1);
    sqlite3_busy_timeout(d->db, BusyTimeoutMs);
    // Write-ahead log, synced at every commit: a written entry survives a power cut.
    qint64 unused = 0;
    const bool ready = d->prepareSchema() && d->integer("PRAGMA journal_mode = WAL", &unused) &&
                       d->execute("PRAGMA synchronous = FULL");
    if (!ready) {
        sqlite3_close_v2(d->db);
        d->db = nullptr;
    }
    return ready;
}

void Journal::close()
{
    QMutexLocker lock(&d->mutex);
    sqlite3_close_v2(d->db);
    d->db = nullptr;
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

QString Journal::errorString() const
{
    QMutexLocker lock(&d->mutex);
    return d->error;
}

bool Journal::record(JournalEntry* entry)
{
    QMutexLocker lock(&d->mutex);
    if (!d->db) {
        return d->fail("the journal is not open");
    }
    entry->changed = QDateTime::currentDateTimeUtc();
    if (!entry->created.isValid()) {
        entry->created = entry->changed;
    }
    Statement statement(d->db, Upsert);
    if (!statement.prepared()) {
        return d->fail("cannot write to the journal");
    }
    statement.bind(1, entry->id);
    statement.bind(2, JournalEntry::operationName(entry->operation));
    statement.bind(3, entry->amount);
    statement.bind(4, qint64(entry->currency));
    statement.bind(5, entry->paymentId);
    statement.bind(6, JournalEntry::stateName(entry->state));
    statement.bind(7, entry->providerStatus);
    statement.bind(8, entry->messageKey);
    statement.bind(9, entry->created.toMSecsSinceEpoch());
    statement.bind(10, entry->changed.toMSecsSinceEpoch());
    statement.bind(11, entry->ownerPid);
    statement.bind(12, entry->ownerStart);
    if (sqlite3_step(statement.get()) != SQLITE_DONE || sqlite3_changes(d->db) != 1) {
        return d->fail("cannot write to the journal");
    }
    return true;
}

bool Journal::entries(QVector<JournalEntry>* out, bool openOnly) const
{
    QMutexLocker lock(&d->mutex);
    out->clear();
    if (!d->db) {
        return d->fail("the journal is not open");
    }
    const QByteArray sql = QByteArray(SelectColumns) +
                           (openOnly ? "WHERE state IN ('sending', 'waiting') " : "") +
                           "ORDER BY created_ms DESC, rowid DESC";
    Statement statement(d->db, sql.constData());
    if (!statement.prepared()) {
        return d->fail("cannot read the journal");
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        JournalEntry entry;
        entry.id = statement.text(0);
        entry.amount = statement.integer(2);
        entry.currency = int(statement.integer(3));
        entry.paymentId = statement.text(4);
        entry.providerStatus = statement.text(6);
        entry.messageKey = statement.text(7);
        entry.created = QDateTime::fromMSecsSinceEpoch(statement.integer(8), Qt::UTC);
        entry.changed = QDateTime::fromMSecsSinceEpoch(statement.integer(9), Qt::UTC);
        entry.ownerPid = statement.integer(10);
        entry.ownerStart = statement.integer(11);
        if (!JournalEntry::operationFromName(statement.text(1), &entry.operation) ||
            !JournalEntry::stateFromName(statement.text(5), &entry.state)) {
            d->error = QString("the entry %1 holds an unknown operation or state").arg(entry.id);
            return false;
        }
        out->append(entry);
    }
    return step == SQLITE_DONE || d->fail("cannot read the journal");
}

int Journal::removeClosedBefore(const QDateTime& before)
{
    QMutexLocker lock(&d->mutex);
    if (!d->db) {
        d->fail("the journal is not open");
        return -1;
    }
    Statement statement(d->db, "DELETE FROM operations WHERE state NOT IN ('sending', 'waiting') "
                               "AND changed_ms < ?1");
    if (!statement.prepared()) {
        d->fail("cannot clean the journal");
        return -1;
    }
    statement.bind(1, before.toMSecsSinceEpoch());
    if (sqlite3_step(statement.get()) != SQLITE_DONE) {
        d->fail("cannot clean the journal");
        return -1;
    }
    return sqlite3_changes(d->db);
}

} // namespace oxlenpay
