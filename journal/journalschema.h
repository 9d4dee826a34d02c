#pragma once

#include <QByteArray>

namespace oxlenpay {

class SqliteDatabase;

/// The journal's tables: the current schema, made from the names rows are written with,
/// and the ladder of frozen steps that brings an older file up to it.
class JournalSchema {
public:
    static constexpr int Version = 4;
    /// "OXJL": tells our files from any other SQLite database.
    static constexpr int ApplicationId = 0x4F584A4C;

    /// The SQL lists of the states of rows still at work, and of settled ones. The listings
    /// and the purge write their conditions with these very texts, so that SQLite answers
    /// them from the partial indexes instead of reading every row.
    static const QByteArray& unsettledStates();
    static const QByteArray& settledStates();
    /// Every column of a row, in the order rows are bound and read.
    static const char* columns();

    /// What a new file is given, in one transaction.
    static QByteArray current();
    /// The indexes made at every writing open: an index needs no new schema version.
    static const QByteArray& indexes();
    /// Step `from` -> `from` + 1, as it was first written; never changed afterwards.
    static const char* migration(int from);

    enum class Access { Write, ReadOnly };
    /// Makes, checks or migrates the tables of `database`. False, with the reason in
    /// `database`, when the file is not a journal this build can use; `olderVersion` is
    /// set when only a writer's migration stands in the way.
    static bool prepare(SqliteDatabase& database, Access access, bool* olderVersion);
};

} // namespace oxlenpay
