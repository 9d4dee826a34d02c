#include "journalformat.h"

#include "amount.h"
#include "printable.h"
#include "tilljournal.h"

#include <algorithm>

namespace till {

namespace journalformat {

using oxlenpay::JournalEntry;

QString localTime(const QDateTime& time)
{
    if (!time.isValid()) {
        return "-";
    }
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString("yyyy-MM-dd HH:mm:ss t");
}

QString orDash(const QString& text)
{
    return text.isEmpty() ? "-" : text;
}

QString amountOf(const JournalEntry& entry)
{
    if (entry.operation == JournalEntry::Operation::Fiscal) {
        return "-";
    }
    return entry.amountKnown ? formatAmount(entry.amount) : QString("—");
}

QString durationOf(const JournalEntry& entry)
{
    const qint64 ms = entry.durationMs();
    return ms < 0 ? QString("—") : QString("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

QString shortId(const QString& id)
{
    return id.left(8);
}

QJsonObject entryJson(const JournalEntry& entry)
{
    const auto time = [](const QDateTime& at) {
        return at.isValid() ? QJsonValue(at.toString(Qt::ISODateWithMs)) : QJsonValue();
    };
    const qint64 duration = entry.durationMs();
    return {{"id", entry.id},
            {"operation", JournalEntry::operationName(entry.operation)},
            {"amount", entry.amountKnown ? QJsonValue(formatAmount(entry.amount)) : QJsonValue()},
            {"currency", entry.currency},
            {"paymentId", entry.paymentId},
            {"state", JournalEntry::stateName(entry.state)},
            {"providerStatus", entry.providerStatus},
            {"key", entry.messageKey},
            {"providerText", entry.providerText},
            {"created", entry.created.toString(Qt::ISODateWithMs)},
            {"changed", entry.changed.toString(Qt::ISODateWithMs)},
            {"firstAnswer", time(entry.firstAnswer)},
            {"ended", time(entry.ended)},
            {"durationMs", duration < 0 ? QJsonValue() : QJsonValue(duration)},
            {"note", entry.note},
            {"resolved",
             entry.resolved.isValid() ? entry.resolved.toString(Qt::ISODateWithMs) : QString()}};
}

QString table(const QStringList& header, QList<QStringList> rows, QList<QStringList> notes,
              const QList<int>& rightAligned)
{
    // Cells and notes hold the provider's words and people's notes: shown, never acted on.
    for (QStringList& row : rows) {
        for (QString& cell : row) {
            cell = printable(cell);
        }
    }
    for (QStringList& rowNotes : notes) {
        for (QString& note : rowNotes) {
            note = printable(note);
        }
    }
    QVector<int> widths(header.size());
    for (int c = 0; c < header.size(); ++c) {
        widths[c] = header[c].size();
        for (const QStringList& row : rows) {
            widths[c] = std::max(widths[c], int(row.value(c).size()));
        }
    }
    auto line = [&](const QStringList& cells) {
        QStringList padded;
        for (int c = 0; c < cells.size(); ++c) {
            const bool right = rightAligned.contains(c);
            const bool last = c == cells.size() - 1;
            padded << (right  ? cells[c].rightJustified(widths[c])
                       : last ? cells[c]
                              : cells[c].leftJustified(widths[c]));
        }
        return "  " + padded.join("  ") + '\n';
    };
    QString text = line(header);
    for (int r = 0; r < rows.size(); ++r) {
        text += line(rows[r]);
        for (const QString& note : notes.value(r)) {
            text += "      " + note + '\n';
        }
    }
    return text;
}

bool readEntries(const oxlenpay::Journal::Filter& filter, QVector<JournalEntry>* entries,
                 QString* path, QString* error,
                 QHash<QString, oxlenpay::Journal::Reconciliation>* reconciled)
{
    oxlenpay::Journal journal;
    if (!openJournal(&journal, oxlenpay::Journal::OpenMode::ReadOnly, path, error)) {
        return false;
    }
    if (!journal.entries(entries, filter)) {
        *error = QString("cannot read the journal %1: %2").arg(*path, journal.errorString());
        return false;
    }
    if (reconciled) {
        journal.reconciliations(reconciled); // none read: the rows are shown without
    }
    return true;
}

} // namespace journalformat

} // namespace till
