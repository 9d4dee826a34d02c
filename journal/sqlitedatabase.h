#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace oxlenpay {

/// One SQLite connection and the statements prepared on it, kept until it closes:
/// preparing costs more than running most of them. Its last failure is kept with it, and
/// whether that failure was another process's lock.
class SqliteDatabase {
public:
    SqliteDatabase();
    ~SqliteDatabase();
    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    /// `flags` as sqlite3_open_v2 takes them; extended result codes are turned on.
    bool open(const QString& path, int flags);
    /// Finalizes every statement, then closes the connection.
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    sqlite3* handle() const { return m_handle.get(); }

    /// The prepared `sql`, or null when it does not prepare.
    sqlite3_stmt* prepared(const char* sql);
    bool execute(const char* sql);
    /// The single value a pragma or a count answers.
    bool value(const char* sql, qint64* number, QString* text = nullptr);
    /// `sql` in one BEGIN IMMEDIATE ... COMMIT, or nothing of it.
    /// Runs, in one BEGIN IMMEDIATE transaction, what `decide` chooses once the write lock
    /// is held: `sql` (empty: nothing to do) and `what` it does, which names a failure.
    /// False when `decide` fails (its error stands) or the statements or the commit fail.
    bool inTransaction(const std::function<bool(QByteArray* sql, QString* what)>& decide);
    /// The rows the last write changed.
    int changes() const;

    /// Notes a failure: `what`, with SQLite's own words when the connection has some.
    /// Always false, so that a caller can return it.
    bool fail(const QString& what);
    /// Notes a failure of our own.
    void setError(const QString& error);
    QString error() const { return m_error; }
    bool lastErrorWasBusy() const { return m_busy; }
    void clearBusy() { m_busy = false; }

private:
    struct Closer {
        void operator()(sqlite3* handle) const;
    };
    void finalizeStatements();

    std::unique_ptr<sqlite3, Closer> m_handle;
    QHash<QByteArray, sqlite3_stmt*> m_statements;
    QString m_error;
    bool m_busy = false;
};

} // namespace oxlenpay
