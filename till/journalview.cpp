#include "journalview.h"

#include "amount.h"
#include "journalformat.h"
#include "messages.h"
#include "printable.h"

#include <QJsonArray>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

namespace till {

namespace {

using oxlenpay::JournalEntry;
using namespace journalformat;

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
    // What the last reconciliation read for each row is shown beside the row.
    QHash<QString, oxlenpay::Journal::Reconciliation> reconciled;
    if (!readEntries(query.filter, &entries, &path, error, &reconciled)) {
        return false;
    }
    if (query.amount >= 0) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const JournalEntry& e) {
                                         return !e.amountKnown || e.amount != query.amount;
                                     }),
                      entries.end());
    }
    outcome->operation = "journal";
    outcome->state = ResultState::Approved;
    QJsonArray rows;
    QList<QStringList> cells, notes;
    QString csv = "id,created,operation,amount,currency,payment_id,state,provider_status,key,"
                  "provider_text,changed,note,resolved,duration_ms,reconciled,reconciled_status\n";
    for (const JournalEntry& entry : entries) {
        const auto check = reconciled.constFind(entry.id);
        const bool wasReconciled = check != reconciled.constEnd();
        QJsonObject row = entryJson(entry);
        if (wasReconciled) {
            row.insert("reconciled",
                       QJsonObject{{"checked", check->checked.toString(Qt::ISODateWithMs)},
                                   {"providerStatus", check->providerStatus}});
        }
        rows.append(row);
        cells << QStringList{localTime(entry.created), JournalEntry::operationName(entry.operation),
                             amountOf(entry),          durationOf(entry),
                             orDash(entry.paymentId),  JournalEntry::stateName(entry.state),
                             orDash(entry.messageKey), entry.id};
        QStringList entryNotes;
        if (!entry.providerText.isEmpty()) {
            entryNotes << "provider: " + oxlenpay::messages::capped(entry.providerText);
        }
        if (entry.state == JournalEntry::State::Resolved) {
            entryNotes << QString("resolved %1: %2").arg(localTime(entry.resolved), entry.note);
        }
        if (wasReconciled) {
            entryNotes << QString("reconciled %1: provider %2")
                              .arg(localTime(check->checked), orDash(check->providerStatus));
        }
        notes << entryNotes;
        QStringList fields;
        for (const QString& field : {entry.id, entry.created.toString(Qt::ISODateWithMs),
                                     JournalEntry::operationName(entry.operation)}) {
            fields << csvCell(field);
        }
        fields << csvCell(entry.amountKnown ? formatAmount(entry.amount) : QString(), true)
               << csvCell(QString::number(entry.currency), true);
        for (const QString& field :
             {entry.paymentId, JournalEntry::stateName(entry.state), entry.providerStatus,
              entry.messageKey, oxlenpay::messages::capped(entry.providerText),
              entry.changed.toString(Qt::ISODateWithMs), entry.note,
              entry.resolved.isValid() ? entry.resolved.toString(Qt::ISODateWithMs) : QString()}) {
            fields << csvCell(field);
        }
        fields << csvCell(entry.durationMs() < 0 ? QString() : QString::number(entry.durationMs()),
                          true)
               << csvCell(wasReconciled ? check->checked.toString(Qt::ISODateWithMs) : QString())
               << csvCell(wasReconciled ? check->providerStatus : QString());
        csv += fields.join(',') + '\n';
    }
    QString text = QString("==== JOURNAL %1\n").arg(path);
    text += table({"created", "operation", "amount", "took", "payment id", "state", "key", "id"},
                  cells, notes, {2, 3});
    if (rows.isEmpty()) {
        text += query.filter.unsettledOnly ? "  (every entry is settled)\n" : "  (no entries)\n";
    }
    outcome->customJson = {{"operation", "journal"}, {"journal", path}, {"entries", rows}};
    outcome->customReceipt = query.csv ? csv : text;
    return true;
}

} // namespace till
