#pragma once

#include <QString>

struct sqlite3_stmt;

namespace oxlenpay {

class SqliteDatabase;

/// A use of a cached statement: reset and unbound on every path when it ends, so that it
/// holds no read transaction open. It must end before its connection closes.
class SqliteStatement {
public:
    SqliteStatement(SqliteDatabase& database, const char* sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool prepared() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }
    void bind(int index, const QString& text);
    void bind(int index, qint64 value);
    void bindNull(int index);
    QString text(int column) const;
    qint64 integer(int column) const;
    bool isNull(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};

} // namespace oxlenpay
