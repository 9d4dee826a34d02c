#include "journalschema.h"

#include "journalentry.h"
#include "sqlitedatabase.h"

#include <QStringList>

namespace oxlenpay {

namespace {

// The ladder of schema changes: step N takes a file from version N to N + 1. Each text is
// frozen as it was written, with the names of its day; every later change adds one step,
// and the whole climb runs in one transaction.
const char* const Migrations[] = {
    // 1 -> 2: rows get an owner handle, a note and a time of resolution; "unknown"
    // becomes recovery's work, so the closed unknowns of version 1 are kept for a person.
    "CREATE TABLE operations_next (\n"
    "    id TEXT PRIMARY KEY NOT NULL,\n"
    "    operation TEXT NOT NULL\n"
    "        CHECK (operation IN ('sale', 'reversal', 'partialReversal', 'fiscal')),\n"
    "    amount INTEGER NOT NULL,\n"
    "    currency INTEGER NOT NULL,\n"
    "    payment_id TEXT NOT NULL DEFAULT '',\n"
    "    state TEXT NOT NULL CHECK (state IN ('sending', 'waiting', 'done', 'declined',\n"
    "        'reversed', 'unknown', 'attention', 'resolved')),\n"
    "    provider_status TEXT NOT NULL DEFAULT '',\n"
    "    message_key TEXT NOT NULL DEFAULT '',\n"
    "    created_ms INTEGER NOT NULL,\n"
    "    changed_ms INTEGER NOT NULL,\n"
    "    owner_pid INTEGER NOT NULL,\n"
    "    owner_start INTEGER NOT NULL,\n"
    "    owner TEXT NOT NULL DEFAULT '',\n"
    "    note TEXT NOT NULL DEFAULT '',\n"
    "    resolved_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    provider_text TEXT NOT NULL DEFAULT ''\n"
    ");\n"
    "INSERT INTO operations_next (id, operation, amount, currency, payment_id, state,\n"
    "    provider_status, message_key, created_ms, changed_ms, owner_pid, owner_start)\n"
    "SELECT id, operation, amount, currency, payment_id,\n"
    "    CASE state WHEN 'unknown' THEN 'attention' ELSE state END,\n"
    "    provider_status, message_key, created_ms, changed_ms, owner_pid, owner_start\n"
    "FROM operations;\n"
    "DROP TABLE operations;\n"
    "ALTER TABLE operations_next RENAME TO operations;\n"
    "CREATE INDEX IF NOT EXISTS operations_unsettled ON operations (state)\n"
    "    WHERE state IN ('sending', 'waiting', 'unknown', 'attention');\n",
    // 2 -> 3: recovery counts the provider's refusals of a row and paces its next try, and
    // times how long a cancel's payment has still shown charged.
    "ALTER TABLE operations ADD COLUMN refusals INTEGER NOT NULL DEFAULT 0;\n"
    "ALTER TABLE operations ADD COLUMN first_refused_ms INTEGER NOT NULL DEFAULT 0;\n"
    "ALTER TABLE operations ADD COLUMN retry_after_ms INTEGER NOT NULL DEFAULT 0;\n"
    "ALTER TABLE operations ADD COLUMN not_carried_since_ms INTEGER NOT NULL DEFAULT 0;\n",
    // 3 -> 4: an amount may be unknown (a cancel of a sale the journal never saw, asked
    // without one: version 3 wrote those as 0); rows keep when their own answer came and
    // when the host had its answer; the provider's status at the last reconciliation, and
    // the last figures of recovery and reconciliation, are kept beside the rows.
    "CREATE TABLE operations_next (\n"
    "    id TEXT PRIMARY KEY NOT NULL,\n"
    "    operation TEXT NOT NULL\n"
    "        CHECK (operation IN ('sale', 'reversal', 'partialReversal', 'fiscal')),\n"
    "    amount INTEGER,\n"
    "    currency INTEGER NOT NULL,\n"
    "    payment_id TEXT NOT NULL DEFAULT '',\n"
    "    state TEXT NOT NULL CHECK (state IN ('sending', 'waiting', 'done', 'declined',\n"
    "        'reversed', 'unknown', 'attention', 'resolved')),\n"
    "    provider_status TEXT NOT NULL DEFAULT '',\n"
    "    message_key TEXT NOT NULL DEFAULT '',\n"
    "    created_ms INTEGER NOT NULL,\n"
    "    changed_ms INTEGER NOT NULL,\n"
    "    owner_pid INTEGER NOT NULL,\n"
    "    owner_start INTEGER NOT NULL,\n"
    "    owner TEXT NOT NULL DEFAULT '',\n"
    "    note TEXT NOT NULL DEFAULT '',\n"
    "    resolved_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    provider_text TEXT NOT NULL DEFAULT '',\n"
    "    refusals INTEGER NOT NULL DEFAULT 0,\n"
    "    first_refused_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    retry_after_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    not_carried_since_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    first_answer_ms INTEGER NOT NULL DEFAULT 0,\n"
    "    ended_ms INTEGER NOT NULL DEFAULT 0\n"
    ");\n"
    "INSERT INTO operations_next (id, operation, amount, currency, payment_id, state,\n"
    "    provider_status, message_key, created_ms, changed_ms, owner_pid, owner_start, owner,\n"
    "    note, resolved_ms, provider_text, refusals, first_refused_ms, retry_after_ms,\n"
    "    not_carried_since_ms)\n"
    "SELECT id, operation,\n"
    "    CASE WHEN operation = 'reversal' AND amount = 0 THEN NULL ELSE amount END,\n"
    "    currency, payment_id, state, provider_status, message_key, created_ms, changed_ms,\n"
    "    owner_pid, owner_start, owner, note, resolved_ms, provider_text, refusals,\n"
    "    first_refused_ms, retry_after_ms, not_carried_since_ms\n"
    "FROM operations;\n"
    "DROP TABLE operations;\n"
    "ALTER TABLE operations_next RENAME TO operations;\n"
    "CREATE INDEX IF NOT EXISTS operations_unsettled ON operations (state)\n"
    "    WHERE state IN ('sending', 'waiting', 'unknown', 'attention');\n"
    "CREATE TABLE reconciliations (\n"
    "    id TEXT PRIMARY KEY NOT NULL,\n"
    "    checked_ms INTEGER NOT NULL,\n"
    "    provider_status TEXT NOT NULL\n"
    ");\n"
    "CREATE TABLE runs (\n"
    "    name TEXT PRIMARY KEY NOT NULL,\n"
    "    finished_ms INTEGER NOT NULL,\n"
    "    exit_code INTEGER NOT NULL,\n"
    "    figure INTEGER NOT NULL DEFAULT 0\n"
    ");\n",
};
static_assert(sizeof Migrations / sizeof *Migrations == JournalSchema::Version - 1,
              "one migration step per schema version");

// "('a', 'b')": names are ours, plain words, never quotes.
QByteArray sqlList(const QStringList& names)
{
    return "('" + names.join("', '").toLatin1() + "')";
}

QByteArray statesWhere(bool settled)
{
    QStringList names;
    for (const JournalEntry::State state : JournalEntry::allStates()) {
        JournalEntry row;
        row.state = state;
        if (row.isSettled() == settled) {
            names << JournalEntry::stateName(state);
        }
    }
    return sqlList(names);
}

} // namespace

const QByteArray& JournalSchema::unsettledStates()
{
    static const QByteArray list = statesWhere(false);
    return list;
}

const QByteArray& JournalSchema::settledStates()
{
    static const QByteArray list = statesWhere(true);
    return list;
}

const char* JournalSchema::columns()
{
    return "id, operation, amount, currency, payment_id, state, provider_status, message_key, "
           "created_ms, changed_ms, owner_pid, owner_start, owner, note, resolved_ms, "
           "provider_text, refusals, first_refused_ms, retry_after_ms, not_carried_since_ms, "
           "first_answer_ms, ended_ms";
}

QByteArray JournalSchema::current()
{
    QStringList operations;
    for (const JournalEntry::Operation operation : JournalEntry::allOperations()) {
        operations << JournalEntry::operationName(operation);
    }
    QStringList states;
    for (const JournalEntry::State state : JournalEntry::allStates()) {
        states << JournalEntry::stateName(state);
    }
    return "CREATE TABLE operations (\n"
           "    id TEXT PRIMARY KEY NOT NULL,\n"
           "    operation TEXT NOT NULL CHECK (operation IN " +
           sqlList(operations) +
           "),\n"
           "    amount INTEGER,\n"
           "    currency INTEGER NOT NULL,\n"
           "    payment_id TEXT NOT NULL DEFAULT '',\n"
           "    state TEXT NOT NULL CHECK (state IN " +
           sqlList(states) +
           "),\n"
           "    provider_status TEXT NOT NULL DEFAULT '',\n"
           "    message_key TEXT NOT NULL DEFAULT '',\n"
           "    created_ms INTEGER NOT NULL,\n"
           "    changed_ms INTEGER NOT NULL,\n"
           "    owner_pid INTEGER NOT NULL,\n"
           "    owner_start INTEGER NOT NULL,\n"
           "    owner TEXT NOT NULL DEFAULT '',\n"
           "    note TEXT NOT NULL DEFAULT '',\n"
           "    resolved_ms INTEGER NOT NULL DEFAULT 0,\n"
           "    provider_text TEXT NOT NULL DEFAULT '',\n"
           "    refusals INTEGER NOT NULL DEFAULT 0,\n"
           "    first_refused_ms INTEGER NOT NULL DEFAULT 0,\n"
           "    retry_after_ms INTEGER NOT NULL DEFAULT 0,\n"
           "    not_carried_since_ms INTEGER NOT NULL DEFAULT 0,\n"
           "    first_answer_ms INTEGER NOT NULL DEFAULT 0,\n"
           "    ended_ms INTEGER NOT NULL DEFAULT 0\n"
           ");\n"
           "CREATE INDEX IF NOT EXISTS operations_unsettled ON operations (state)\n"
           "    WHERE state IN " +
           unsettledStates() +
           ";\n"
           "CREATE TABLE reconciliations (\n"
           "    id TEXT PRIMARY KEY NOT NULL,\n"
           "    checked_ms INTEGER NOT NULL,\n"
           "    provider_status TEXT NOT NULL\n"
           ");\n"
           "CREATE TABLE runs (\n"
           "    name TEXT PRIMARY KEY NOT NULL,\n"
           "    finished_ms INTEGER NOT NULL,\n"
           "    exit_code INTEGER NOT NULL,\n"
           "    figure INTEGER NOT NULL DEFAULT 0\n"
           ");\n";
}

const QByteArray& JournalSchema::indexes()
{
    // Listings by time and the purge of settled rows, whatever the journal's size.
    static const QByteArray text =
        "CREATE INDEX IF NOT EXISTS operations_created ON operations (created_ms);\n"
        "CREATE INDEX IF NOT EXISTS operations_settled_changed ON operations (changed_ms)\n"
        "    WHERE state IN " +
        settledStates() + ";\n";
    return text;
}

const char* JournalSchema::migration(int from)
{
    return from >= 1 && from < Version ? Migrations[from - 1] : "";
}

namespace {

struct FileState {
    qint64 applicationId = 0;
    qint64 tables = 0;
    qint64 version = 0;
};

bool readState(SqliteDatabase& database, FileState* state)
{
    return database.value("PRAGMA application_id", &state->applicationId) &&
           database.value("SELECT count(*) FROM sqlite_master", &state->tables) &&
           database.value("PRAGMA user_version", &state->version);
}

/// What `state` needs before a writer can use the file: `sql` empty when nothing. False,
/// with the reason, for a file this build cannot use.
bool plan(SqliteDatabase& database, const FileState& state, bool readOnly, bool* olderVersion,
          QByteArray* sql, QString* what)
{
    const QByteArray stamp =
        "PRAGMA user_version = " + QByteArray::number(JournalSchema::Version) + ";";
    if (state.applicationId == 0 && state.tables == 0) {
        if (readOnly) {
            database.setError("the file is empty, not a payment journal");
            return false;
        }
        *sql = JournalSchema::current() + JournalSchema::indexes() +
               "PRAGMA application_id = " + QByteArray::number(JournalSchema::ApplicationId) + ";" +
               stamp;
        *what = "cannot create the journal's tables";
        return true;
    }
    if (state.applicationId != JournalSchema::ApplicationId) {
        database.setError("the file is another SQLite database, not a payment journal");
        return false;
    }
    if (state.version > JournalSchema::Version || state.version < 1) {
        database.setError(QString("the journal's schema version is %1, this build reads versions "
                                  "1 to %2: it was written by a newer version of the plug-in")
                              .arg(state.version)
                              .arg(JournalSchema::Version));
        return false;
    }
    if (state.version == JournalSchema::Version) {
        return true;
    }
    if (readOnly) {
        *olderVersion = true;
        database.setError(QString("the journal's schema version is %1 and must be migrated to %2 "
                                  "by a till that writes it")
                              .arg(state.version)
                              .arg(JournalSchema::Version));
        return false;
    }
    for (qint64 step = state.version; step < JournalSchema::Version; ++step) {
        *sql += JournalSchema::migration(int(step));
    }
    *sql += JournalSchema::indexes() + stamp;
    *what = QString("cannot migrate the journal from version %1 to %2")
                .arg(state.version)
                .arg(JournalSchema::Version);
    return true;
}

} // namespace

bool JournalSchema::prepare(SqliteDatabase& database, Access access, bool* olderVersion)
{
    // The three values are read in one snapshot: a file another till makes meanwhile is
    // seen before or after, never half made.
    FileState state;
    QByteArray sql;
    QString what;
    const bool snapshot = database.execute("BEGIN") && readState(database, &state);
    const QString readError = database.error();
    database.execute(snapshot ? "COMMIT" : "ROLLBACK");
    database.setError(readError);
    if (!snapshot ||
        !plan(database, state, access == Access::ReadOnly, olderVersion, &sql, &what)) {
        return false;
    }
    if (access == Access::ReadOnly) {
        return true;
    }
    if (sql.isEmpty()) {
        return database.execute(indexes().constData());
    }
    // Another till may be making or migrating the same file at this very moment (a fresh
    // install opened by the host and the recovery timer at once): what the file needs is
    // decided again under the write lock, from what it holds then.
    bool nothingLeft = false;
    const bool ready = database.inTransaction([&](QByteArray* again, QString* doing) {
        const bool planned =
            readState(database, &state) && plan(database, state, false, olderVersion, again, doing);
        nothingLeft = planned && again->isEmpty();
        return planned;
    });
    // Made or migrated meanwhile by the other till: only this build's indexes may be missing.
    return ready && (!nothingLeft || database.execute(indexes().constData()));
}

} // namespace oxlenpay
