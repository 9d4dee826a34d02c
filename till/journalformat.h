#pragma once

#include "journal.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace till {

/// How the journal's commands show a row: the same texts in listings, reports and
/// reconciliations.
namespace journalformat {

/// Local time with its offset, "-" for none.
QString localTime(const QDateTime& time);
QString orDash(const QString& text);
/// The row's amount in currency units; "—" when nobody knew it, "-" for a fiscal row.
QString amountOf(const oxlenpay::JournalEntry& entry);
/// "1.2 s", or "—" for a row that was never timed to its end.
QString durationOf(const oxlenpay::JournalEntry& entry);
/// The first characters of an id, enough to find it again with --id.
QString shortId(const QString& id);
/// Every field of a row, times in UTC; amount and duration null when unknown.
QJsonObject entryJson(const oxlenpay::JournalEntry& entry);
/// Columns as wide as their widest cell; each row may carry notes on lines of their own.
/// Every cell and note is shown as printable text, never acted on.
QString table(const QStringList& header, QList<QStringList> rows, QList<QStringList> notes,
              const QList<int>& rightAligned = {});
/// The rows `filter` selects from the configured journal, opened read-only, and (when
/// `reconciled` is given) the last reconciliation of each row that had one.
bool readEntries(const oxlenpay::Journal::Filter& filter, QVector<oxlenpay::JournalEntry>* entries,
                 QString* path, QString* error,
                 QHash<QString, oxlenpay::Journal::Reconciliation>* reconciled = nullptr);

} // namespace journalformat

} // namespace till
