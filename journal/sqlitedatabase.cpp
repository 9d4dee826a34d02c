#include "sqlitedatabase.h"

#include "crashpoint.h"
#include "sqlitestatement.h"

#include <QFile>

#include <sqlite3.h>

namespace oxlenpay {

void SqliteDatabase::Closer::operator()(sqlite3* handle) const
{
    sqlite3_close_v2(handle);
}

SqliteDatabase::SqliteDatabase() = default;

SqliteDatabase::~SqliteDatabase()
{
    close();
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : m_handle(std::move(other.m_handle)), m_statements(std::move(other.m_statements)),
      m_error(std::move(other.m_error)), m_busy(other.m_busy)
{
    other.m_statements.clear();
}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::move(other.m_handle);
        m_statements = std::move(other.m_statements);
        other.m_statements.clear();
        m_error = std::move(other.m_error);
        m_busy = other.m_busy;
    }
    return *this;
}

bool SqliteDatabase::open(const QString& path, int flags)
{
    close();
    sqlite3* handle = nullptr;
    const int opened = sqlite3_open_v2(path.toUtf8().constData(), &handle, flags, nullptr);
    m_handle.reset(handle); // closed by the handle's owner even when opening failed
    if (opened != SQLITE_OK) {
        fail("cannot open the file");
        close();
        return false;
    }
    sqlite3_extended_result_codes(handle, 1);
    return true;
}

void SqliteDatabase::close()
{
    finalizeStatements();
    m_handle.reset();
}

void SqliteDatabase::finalizeStatements()
{
    for (sqlite3_stmt* statement : std::as_const(m_statements)) {
        sqlite3_finalize(statement);
    }
    m_statements.clear();
}

sqlite3_stmt* SqliteDatabase::prepared(const char* sql)
{
    if (!m_handle) {
        return nullptr;
    }
    const QByteArray key(sql);
    sqlite3_stmt* statement = m_statements.value(key);
    if (!statement && sqlite3_prepare_v2(handle(), sql, -1, &statement, nullptr) == SQLITE_OK &&
        statement) {
        m_statements.insert(key, statement);
    }
    return statement;
}

bool SqliteDatabase::execute(const char* sql)
{
    return sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr) == SQLITE_OK ||
           fail(QString("cannot run \"%1\"").arg(QString(sql).simplified().left(40)));
}

bool SqliteDatabase::value(const char* sql, qint64* number, QString* text)
{
    SqliteStatement statement(*this, sql);
    if (!statement.prepared() || sqlite3_step(statement.get()) != SQLITE_ROW) {
        return fail("cannot read the database");
    }
    *number = statement.integer(0);
    if (text) {
        *text = statement.text(0);
    }
    return true;
}

bool SqliteDatabase::inTransaction(
    const std::function<bool(QByteArray* sql, QString* what)>& decide)
{
    if (!execute("BEGIN IMMEDIATE")) {
        return false;
    }
    QByteArray sql;
    QString what;
    const bool decided = decide(&sql, &what);
    reachCrashPoint("in a transaction, before its statements");
    const bool done = decided && (sql.isEmpty() || sqlite3_exec(handle(), sql.constData(), nullptr,
                                                                nullptr, nullptr) == SQLITE_OK);
    reachCrashPoint("in a transaction, before its commit");
    if (done && sqlite3_exec(handle(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        return true;
    }
    if (decided) {
        fail(what); // else the error `decide` left stands
    }
    sqlite3_exec(handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

int SqliteDatabase::changes() const
{
    return m_handle ? sqlite3_changes(handle()) : 0;
}

bool SqliteDatabase::fail(const QString& what)
{
    m_error =
        m_handle ? QString("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(handle()))) : what;
    const int code = m_handle ? sqlite3_errcode(handle()) & 0xff : SQLITE_OK;
    m_busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    return false;
}

void SqliteDatabase::setError(const QString& error)
{
    m_error = error;
}

} // namespace oxlenpay
