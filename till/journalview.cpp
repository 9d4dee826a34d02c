#include "journalview.h"

#include "amount.h"
#include "messages.h"
#include "printable.h"
#include "tilljournal.h"

#include <QJsonArray>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

namespace till {

namespace {

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
    return entry.operation == JournalEntry::Operation::Fiscal ? "-" : formatAmount(entry.amount);
}

QJsonObject entryJson(const JournalEntry& entry)
{
    return {{"id", entry.id},
            {"operation", JournalEntry::operationName(entry.operation)},
            {"amount", formatAmount(entry.amount)},
            {"currency", entry.currency},
            {"paymentId", entry.paymentId},
            {"state", JournalEntry::stateName(entry.state)},
            {"providerStatus", entry.providerStatus},
            {"key", entry.messageKey},
            {"providerText", entry.providerText},
            {"created", entry.created.toString(Qt::ISODateWithMs)},
            {"changed", entry.changed.toString(Qt::ISODateWithMs)},
            {"note", entry.note},
            {"resolved",
             entry.resolved.isValid() ? entry.resolved.toString(Qt::ISODateWithMs) : QString()}};
}

/// Columns as wide as their widest cell, so long keys and ids never shift the others.
QString table(const QStringList& header, QList<QStringList> rows, QList<QStringList> notes,
              const QList<int>& rightAligned = {})
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
                 QString* path, QString* error)
{
    oxlenpay::Journal journal;
    if (!openJournal(&journal, oxlenpay::Journal::OpenMode::ReadOnly, path, error)) {
        return false;
    }
    if (!journal.entries(entries, filter)) {
        *error = QString("cannot read the journal %1: %2").arg(*path, journal.errorString());
        return false;
    }
    return true;
}

/// What a person checks for an entry that is not settled.
QString whatToCheck(const JournalEntry& entry)
{
    using State = JournalEntry::State;
    using Operation = JournalEntry::Operation;
    const QString payment = "payment " + entry.paymentId;
    if (entry.isOpen()) {
        return "under way, or its till died: `oxlenpay-till recover` finishes it";
    }
    if (entry.paymentId.isEmpty()) {
        return "find the transaction " + shellQuoted(entry.id) +
               " at the provider; then `oxlenpay-till journal resolve`";
    }
    if (entry.state == State::Unknown) {
        return entry.operation == Operation::Sale
                   ? "recovery is cancelling " + payment + ": do not hand the goods over"
                   : "recovery looks " + payment + " up until the provider says";
    }
    if (entry.operation == Operation::PartialReversal) {
        return "whether the refund of " + formatAmount(entry.amount) + " reached " + payment +
               "; then `oxlenpay-till journal resolve`";
    }
    return "the status of " + payment + " (`oxlenpay-till status --rrn " +
           shellQuoted(entry.paymentId) + "`); then `oxlenpay-till journal resolve`";
}

qint64 durationMs(const JournalEntry& entry)
{
    return entry.created.msecsTo(entry.changed);
}

} // namespace

bool parseTime(const QString& text, bool endOfDay, QDateTime* time, QString* error)
{
    const QString trimmed = text.trimmed().toLower();
    const QDate today = QDate::currentDate();
    if (trimmed == "today" || trimmed == "yesterday") {
        const QDate day = trimmed == "today" ? today : today.addDays(-1);
        *time = (endOfDay ? day.addDays(1) : day).startOfDay();
        return true;
    }
    static const QRegularExpression back("^-(\\d{1,6})([smhd])$");
    const QRegularExpressionMatch ago = back.match(trimmed);
    if (ago.hasMatch()) {
        const qint64 unit = ago.captured(2) == "s"   ? 1
                            : ago.captured(2) == "m" ? 60
                            : ago.captured(2) == "h" ? 3600
                                                     : 86400;
        *time = QDateTime::currentDateTime().addSecs(-ago.captured(1).toLongLong() * unit);
        return true;
    }
    const QTime clock = QTime::fromString(trimmed, trimmed.size() == 5 ? "HH:mm" : "HH:mm:ss");
    if (clock.isValid() && (trimmed.size() == 5 || trimmed.size() == 8)) {
        *time = QDateTime(today, clock);
        return true;
    }
    const QDate date = QDate::fromString(trimmed, Qt::ISODate);
    if (date.isValid() && trimmed.size() == 10) {
        *time = (endOfDay ? date.addDays(1) : date).startOfDay();
        return true;
    }
    QDateTime parsed = QDateTime::fromString(QString(trimmed).replace(' ', 'T'), Qt::ISODateWithMs);
    if (!parsed.isValid()) {
        *error = QString("\"%1\" is no time: give 2026-12-08, 2026-12-08T14:30, 09:00, today, "
                         "yesterday or -2h (s, m, h, d)")
                     .arg(text);
        return false;
    }
    *time = parsed;
    return true;
}

bool expandIdPrefix(const QString& prefix, QString* id, QString* error)
{
    *id = prefix;
    if (prefix.size() < MinIdPrefix) {
        return true; // taken as a whole id
    }
    QVector<JournalEntry> entries;
    QString path;
    if (!readEntries(oxlenpay::Journal::Filter(), &entries, &path, error)) {
        return false;
    }
    QStringList matches;
    for (const JournalEntry& entry : entries) {
        if (entry.id == prefix) {
            return true;
        }
        if (entry.id.startsWith(prefix)) {
            matches << entry.id;
        }
    }
    if (matches.size() > 1) {
        *error =
            QString("the id prefix %1 matches %2 entries: %3%4")
                .arg(prefix)
                .arg(matches.size())
                .arg(QStringList(matches.mid(0, 10)).join(", "), matches.size() > 10 ? ", …" : "");
        return false;
    }
    if (matches.size() == 1) {
        *id = matches.first();
    }
    return true;
}

bool journalListing(bool openOnly, Outcome* outcome, QString* error)
{
    JournalQuery query;
    query.filter.unsettledOnly = openOnly;
    return journalListing(query, outcome, error);
}

bool journalListing(const JournalQuery& query, Outcome* outcome, QString* error)
{
    QVector<JournalEntry> entries;
    QString path;
    if (!readEntries(query.filter, &entries, &path, error)) {
        return false;
    }
    if (query.amount >= 0) {
        entries.erase(
            std::remove_if(entries.begin(), entries.end(),
                           [&](const JournalEntry& e) { return e.amount != query.amount; }),
            entries.end());
    }
    outcome->operation = "journal";
    outcome->state = ResultState::Approved;
    QJsonArray rows;
    QList<QStringList> cells, notes;
    QString csv = "id,created,operation,amount,currency,payment_id,state,provider_status,key,"
                  "provider_text,changed,note,resolved\n";
    for (const JournalEntry& entry : entries) {
        rows.append(entryJson(entry));
        cells << QStringList{localTime(entry.created),
                             JournalEntry::operationName(entry.operation),
                             amountOf(entry),
                             orDash(entry.paymentId),
                             JournalEntry::stateName(entry.state),
                             orDash(entry.messageKey),
                             entry.id};
        QStringList entryNotes;
        if (!entry.providerText.isEmpty()) {
            entryNotes << "provider: " + oxlenpay::messages::capped(entry.providerText);
        }
        if (entry.state == JournalEntry::State::Resolved) {
            entryNotes << QString("resolved %1: %2").arg(localTime(entry.resolved), entry.note);
        }
        notes << entryNotes;
        QStringList fields;
        for (const QString& field : {entry.id, entry.created.toString(Qt::ISODateWithMs),
                                     JournalEntry::operationName(entry.operation)}) {
            fields << csvCell(field);
        }
        fields << csvCell(formatAmount(entry.amount), true)
               << csvCell(QString::number(entry.currency), true);
        for (const QString& field :
             {entry.paymentId, JournalEntry::stateName(entry.state), entry.providerStatus,
              entry.messageKey, oxlenpay::messages::capped(entry.providerText),
              entry.changed.toString(Qt::ISODateWithMs), entry.note,
              entry.resolved.isValid() ? entry.resolved.toString(Qt::ISODateWithMs) : QString()}) {
            fields << csvCell(field);
        }
        csv += fields.join(',') + '\n';
    }
    QString text = QString("==== JOURNAL %1\n").arg(path);
    text += table({"created", "operation", "amount", "payment id", "state", "key", "id"}, cells,
                  notes, {2});
    if (rows.isEmpty()) {
        text += query.filter.unsettledOnly ? "  (every entry is settled)\n" : "  (no entries)\n";
    }
    outcome->customJson = {{"operation", "journal"}, {"journal", path}, {"entries", rows}};
    outcome->customReceipt = query.csv ? csv : text;
    return true;
}

bool journalReport(oxlenpay::Journal::Filter filter, Outcome* outcome, QString* error)
{
    if (!filter.since.isValid() && !filter.until.isValid()) {
        const QDate today = QDate::currentDate();
        filter.since = today.startOfDay();
        filter.until = today.addDays(1).startOfDay();
    }
    QVector<JournalEntry> entries;
    QString path;
    if (!readEntries(filter, &entries, &path, error)) {
        return false;
    }
    std::reverse(entries.begin(), entries.end()); // in the order they happened

    // What still needs work comes first: that is what support reads the report for.
    QJsonArray open;
    QList<QStringList> openCells, openNotes;
    // Operations whose host heard "unknown" and that recovery settled later: a cancel whose
    // payment still showed charged an hour after its request did not happen.
    QJsonArray endedUnknown;
    QList<QStringList> endedUnknownCells;
    // Per operation, outcome and currency: count and sum.
    struct Total {
        int count = 0;
        qint64 sum = 0;
    };
    QMap<QString, Total> totals;
    QVector<qint64> durations;
    QString slowestId;
    qint64 slowest = -1;
    for (const JournalEntry& entry : entries) {
        const QString operation = JournalEntry::operationName(entry.operation);
        const QString state = JournalEntry::stateName(entry.state);
        Total& total = totals[operation + '\t' + state + '\t' + QString::number(entry.currency)];
        ++total.count;
        total.sum += entry.amount;
        if (entry.operation == JournalEntry::Operation::Reversal &&
            entry.state == JournalEntry::State::Declined &&
            entry.messageKey == QLatin1String("reversalNotCarriedOut")) {
            QJsonObject row = entryJson(entry);
            row.insert("check", "the cancel did not happen: the payment is still charged");
            endedUnknown.append(row);
            endedUnknownCells << QStringList{localTime(entry.created), operation, amountOf(entry),
                                             orDash(entry.paymentId),  state,     entry.id};
        }
        if (!entry.isSettled()) {
            QJsonObject row = entryJson(entry);
            row.insert("check", whatToCheck(entry));
            open.append(row);
            openCells << QStringList{localTime(entry.created), operation, amountOf(entry),
                                     orDash(entry.paymentId),  state,     entry.id};
            openNotes << QStringList{"check: " + whatToCheck(entry)};
        } else if (entry.state != JournalEntry::State::Resolved) {
            durations << durationMs(entry);
            if (durationMs(entry) > slowest) {
                slowest = durationMs(entry);
                slowestId = entry.id;
            }
        }
    }
    std::sort(durations.begin(), durations.end());
    const qint64 median = durations.isEmpty() ? 0 : durations[durations.size() / 2];

    QString text = QString("==== REPORT %1 .. %2\n  journal %3\n")
                       .arg(localTime(filter.since), localTime(filter.until), path);
    text += QString("\nNot settled: %1\n").arg(open.size());
    if (!open.isEmpty()) {
        text += table({"created", "operation", "amount", "payment id", "state", "id"}, openCells,
                      openNotes, {2});
    }
    text += QString("\nEnded unknown for the host, settled later: %1\n").arg(endedUnknown.size());
    if (!endedUnknown.isEmpty()) {
        QList<QStringList> notes;
        for (int i = 0; i < endedUnknownCells.size(); ++i) {
            notes << QStringList{"check: the cancel did not happen: the payment is still charged"};
        }
        text += table({"created", "operation", "amount", "payment id", "state", "id"},
                      endedUnknownCells, notes, {2});
    }
    QJsonArray totalsJson;
    QList<QStringList> totalCells;
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        const QStringList key = it.key().split('\t');
        totalCells << QStringList{key[0], key[1], key[2], QString::number(it->count),
                                  key[0] == "fiscal" ? "-" : formatAmount(it->sum)};
        totalsJson.append(QJsonObject{{"operation", key[0]},
                                      {"state", key[1]},
                                      {"currency", key[2].toInt()},
                                      {"count", it->count},
                                      {"sum", formatAmount(it->sum)}});
    }
    text += QString("\nOperations: %1\n").arg(entries.size());
    if (!totalCells.isEmpty()) {
        text += table({"operation", "outcome", "currency", "count", "sum"}, totalCells, {}, {3, 4});
    }
    text += "\nDurations of settled operations\n";
    text += durations.isEmpty() ? QString("  none\n")
                                : QString("  median %1 s, slowest %2 s (%3)\n")
                                      .arg(median / 1000.0, 0, 'f', 1)
                                      .arg(slowest / 1000.0, 0, 'f', 1)
                                      .arg(slowestId);
    outcome->operation = "report";
    outcome->state = ResultState::Approved;
    outcome->customJson = {{"operation", "report"},
                           {"journal", path},
                           {"since", filter.since.toUTC().toString(Qt::ISODateWithMs)},
                           {"until", filter.until.toUTC().toString(Qt::ISODateWithMs)},
                           {"notSettled", open},
                           {"endedUnknown", endedUnknown},
                           {"totals", totalsJson},
                           {"durations", QJsonObject{{"count", int(durations.size())},
                                                     {"medianMs", median},
                                                     {"slowestMs", qMax<qint64>(slowest, 0)},
                                                     {"slowestId", slowestId}}}};
    outcome->customReceipt = text;
    return true;
}

} // namespace till
