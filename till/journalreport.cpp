#include "journalreport.h"

#include "amount.h"
#include "journalformat.h"
#include "printable.h"

#include <QJsonArray>
#include <QMap>

#include <algorithm>

namespace till {

namespace {

using oxlenpay::JournalEntry;
using Operation = JournalEntry::Operation;
using State = JournalEntry::State;
using namespace journalformat;

constexpr int SlowestShown = 5;

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
        return "whether the refund of " + amountOf(entry) + " reached " + payment +
               "; then `oxlenpay-till journal resolve`";
    }
    return "the status of " + payment + " (`oxlenpay-till status --rrn " +
           shellQuoted(entry.paymentId) + "`); then `oxlenpay-till journal resolve`";
}

/// Per currency: what the day moved, as far as the journal knows it.
struct Net {
    qint64 sales = 0;
    qint64 returned = 0;    ///< refunds and cancels done
    int unknownAmounts = 0; ///< done rows whose amount nobody knew
    qint64 unsettled = 0;   ///< the known amounts of rows still at work
    int unsettledCount = 0;
    qint64 net() const { return sales - returned; }
};

} // namespace

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
    // Per operation, outcome and currency: count and sum of the amounts known.
    struct Total {
        int count = 0;
        int unknown = 0;
        qint64 sum = 0;
    };
    QMap<QString, Total> totals;
    QMap<int, Net> nets;
    QMap<QString, int> fiscal; // by state
    QVector<JournalEntry> timed;
    for (const JournalEntry& entry : entries) {
        const QString operation = JournalEntry::operationName(entry.operation);
        const QString state = JournalEntry::stateName(entry.state);
        if (entry.durationMs() >= 0) {
            timed << entry;
        }
        if (entry.operation == Operation::Fiscal) {
            ++fiscal[state]; // a link handed over moves no money and has no currency
        } else {
            Total& total =
                totals[operation + '\t' + state + '\t' + QString::number(entry.currency)];
            ++total.count;
            total.sum += entry.amountKnown ? entry.amount : 0;
            total.unknown += entry.amountKnown ? 0 : 1;
            Net& net = nets[entry.currency];
            if (!entry.isSettled()) {
                net.unsettled += entry.amountKnown ? entry.amount : 0;
                ++net.unsettledCount;
            } else if (entry.state == State::Done && !entry.amountKnown) {
                ++net.unknownAmounts;
            } else if (entry.state == State::Done) {
                (entry.operation == Operation::Sale ? net.sales : net.returned) += entry.amount;
            }
        }
        if (entry.operation == Operation::Reversal && entry.state == State::Declined &&
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
        }
    }
    // Slowest first; of equal ones the earlier.
    std::stable_sort(timed.begin(), timed.end(), [](const JournalEntry& a, const JournalEntry& b) {
        return a.durationMs() > b.durationMs();
    });
    QVector<qint64> durations;
    for (const JournalEntry& entry : timed) {
        durations << entry.durationMs();
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

    QJsonArray netJson;
    QList<QStringList> netCells;
    for (auto it = nets.cbegin(); it != nets.cend(); ++it) {
        netCells << QStringList{
            QString::number(it.key()),
            formatAmount(it->sales),
            formatAmount(it->returned),
            formatAmount(it->net()),
            QString::number(it->unknownAmounts),
            QString("%1 (%2)").arg(formatAmount(it->unsettled)).arg(it->unsettledCount)};
        netJson.append(QJsonObject{{"currency", it.key()},
                                   {"sales", formatAmount(it->sales)},
                                   {"returned", formatAmount(it->returned)},
                                   {"net", formatAmount(it->net())},
                                   {"unknownAmounts", it->unknownAmounts},
                                   {"unsettled", formatAmount(it->unsettled)},
                                   {"unsettledCount", it->unsettledCount}});
    }
    text += "\nNet per currency: sales done less refunds and cancels done\n";
    text += netCells.isEmpty()
                ? QString("  none\n")
                : table({"currency", "sales", "returned", "net", "unknown amounts", "unsettled"},
                        netCells, {}, {1, 2, 3, 4});

    QJsonArray totalsJson;
    QList<QStringList> totalCells;
    int operations = 0;
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        const QStringList key = it.key().split('\t');
        operations += it->count;
        totalCells << QStringList{key[0],
                                  key[1],
                                  key[2],
                                  QString::number(it->count),
                                  formatAmount(it->sum),
                                  it->unknown > 0 ? QString::number(it->unknown) : QString("-")};
        totalsJson.append(QJsonObject{{"operation", key[0]},
                                      {"state", key[1]},
                                      {"currency", key[2].toInt()},
                                      {"count", it->count},
                                      {"sum", formatAmount(it->sum)},
                                      {"unknownAmounts", it->unknown}});
    }
    text += QString("\nOperations: %1\n").arg(operations);
    if (!totalCells.isEmpty()) {
        text += table({"operation", "outcome", "currency", "count", "sum", "unknown amounts"},
                      totalCells, {}, {3, 4, 5});
    }
    QJsonObject fiscalJson;
    QStringList fiscalParts;
    int fiscalCount = 0;
    for (auto it = fiscal.cbegin(); it != fiscal.cend(); ++it) {
        fiscalJson.insert(it.key(), it.value());
        fiscalParts << QString("%1 %2").arg(it.value()).arg(it.key());
        fiscalCount += it.value();
    }
    text += QString("\nFiscal messages: %1%2\n")
                .arg(fiscalCount)
                .arg(fiscalParts.isEmpty() ? QString() : " (" + fiscalParts.join(", ") + ")");

    QJsonArray slowestJson;
    QList<QStringList> slowestCells;
    for (const JournalEntry& entry : timed.mid(0, SlowestShown)) {
        slowestCells << QStringList{durationOf(entry),
                                    JournalEntry::operationName(entry.operation),
                                    amountOf(entry),
                                    orDash(entry.paymentId),
                                    JournalEntry::stateName(entry.state),
                                    shortId(entry.id)};
        QJsonObject row = entryJson(entry);
        row.insert("shortId", shortId(entry.id));
        slowestJson.append(row);
    }
    text += QString("\nDurations: %1 timed").arg(durations.size());
    text += durations.isEmpty()
                ? QString("\n")
                : QString(", median %1 s; the slowest:\n").arg(median / 1000.0, 0, 'f', 1) +
                      table({"took", "operation", "amount", "payment id", "state", "id"},
                            slowestCells, {}, {0, 2});
    outcome->operation = "report";
    outcome->state = ResultState::Approved;
    outcome->customJson = {{"operation", "report"},
                           {"journal", path},
                           {"since", filter.since.toUTC().toString(Qt::ISODateWithMs)},
                           {"until", filter.until.toUTC().toString(Qt::ISODateWithMs)},
                           {"notSettled", open},
                           {"endedUnknown", endedUnknown},
                           {"net", netJson},
                           {"totals", totalsJson},
                           {"fiscal", fiscalJson},
                           {"durations", QJsonObject{{"count", int(durations.size())},
                                                     {"medianMs", median},
                                                     {"slowest", slowestJson}}}};
    outcome->customReceipt = text;
    return true;
}

} // namespace till
