#include "journalreconcile.h"

#include "journalformat.h"
#include "printable.h"
#include "providerreply.h"
#include "tilljournal.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>

namespace till {

namespace {

using oxlenpay::JournalEntry;
using oxlenpay::ProviderReply;
using Operation = JournalEntry::Operation;
using State = JournalEntry::State;
using Status = ProviderReply::Status;
using Kind = Verdict::Kind;
using namespace journalformat;

/// Whether another row of the payment, of `operation`, ended in `state`.
bool has(const QVector<JournalEntry>& rows, Operation operation, State state)
{
    return std::any_of(rows.begin(), rows.end(), [&](const JournalEntry& row) {
        return row.operation == operation && row.state == state;
    });
}

/// Whether a row of `operation` for the payment is still at work or was settled by a person.
bool hasUnsure(const QVector<JournalEntry>& rows, Operation operation)
{
    return std::any_of(rows.begin(), rows.end(), [&](const JournalEntry& row) {
        return row.operation == operation && (!row.isSettled() || row.state == State::Resolved);
    });
}

QString plainName(Operation operation)
{
    switch (operation) {
    case Operation::Sale:
        return "sale";
    case Operation::PartialReversal:
        return "refund";
    case Operation::Reversal:
        return "cancel";
    case Operation::Fiscal:
        break;
    }
    return "fiscal";
}

/// "journal: sale 60.00 done": what the journal says of a row. `withAmount` false leaves out
/// a cancel's amount, as a disagreement names it.
QString journalSays(const JournalEntry& row, bool withAmount = true)
{
    const bool amount = withAmount || row.operation != Operation::Reversal;
    return QString("journal: %1%2 %3")
        .arg(plainName(row.operation), amount ? " " + amountOf(row) : QString(),
             JournalEntry::stateName(row.state));
}

} // namespace

Verdict judge(const JournalEntry& row, const QVector<JournalEntry>& ofPayment,
              const QString& status)
{
    if (row.paymentId.isEmpty()) {
        return {Kind::Unanswered, {}};
    }
    const Status provider = ProviderReply::statusOf(status);
    if (status.isEmpty() || provider == Status::None || provider == Status::Other) {
        return {Kind::Unanswered, {}};
    }
    // What a person or recovery is still settling cannot disagree yet.
    if (!row.isSettled() || row.state == State::Resolved) {
        return {Kind::CannotTell, {}};
    }
    const bool done = row.state == State::Done;
    const bool cancelDone = has(ofPayment, Operation::Reversal, State::Done);
    const bool refundDone = has(ofPayment, Operation::PartialReversal, State::Done);
    Kind kind = Kind::Agrees;
    switch (row.operation) {
    case Operation::Sale:
        if (done) {
            kind = provider == Status::Success ? Kind::Agrees
                   : provider == Status::PartialCancelled
                       ? (refundDone ? Kind::Agrees : Kind::CannotTell)
                   : provider == Status::Reversed
                       ? (cancelDone                                  ? Kind::Agrees
                          : hasUnsure(ofPayment, Operation::Reversal) ? Kind::CannotTell
                                                                      : Kind::Disagrees)
                       : Kind::Disagrees;
        } else { // declined, or reversed by its own close-out: no money held
            kind = provider == Status::Success || provider == Status::PartialCancelled
                       ? Kind::Disagrees
                   : provider == Status::Pending ? Kind::CannotTell
                                                 : Kind::Agrees;
        }
        break;
    case Operation::PartialReversal:
        if (done) {
            kind = provider == Status::PartialCancelled || provider == Status::Reversed
                       ? Kind::Agrees
                       : Kind::Disagrees;
        } else {
            kind = provider == Status::PartialCancelled || provider == Status::Pending
                       ? Kind::CannotTell // another refund may be what shows
                       : Kind::Agrees;
        }
        break;
    case Operation::Reversal:
        if (done) {
            kind = provider == Status::Reversed ? Kind::Agrees : Kind::Disagrees;
        } else {
            kind = provider == Status::Success || provider == Status::PartialCancelled
                       ? Kind::Agrees
                       : Kind::CannotTell; // recovery or another cancel may have returned it
        }
        break;
    case Operation::Fiscal:
        return {Kind::CannotTell, {}};
    }
    if (kind != Kind::Disagrees) {
        return {kind, {}};
    }
    return {kind, journalSays(row, false) + "; provider: " + status};
}

bool reconcileJournal(oxlenpay::Journal::Filter filter, const StatusLookup& lookup, qint64 budgetMs,
                      Outcome* outcome, QString* error)
{
    if (!filter.since.isValid() && !filter.until.isValid()) {
        const QDate today = QDate::currentDate();
        filter.since = today.startOfDay();
        filter.until = today.addDays(1).startOfDay();
    }
    oxlenpay::Journal journal;
    QString path;
    if (!openJournal(&journal, oxlenpay::Journal::OpenMode::ExistingOnly, &path, error)) {
        return false;
    }
    QVector<JournalEntry> all;
    QVector<JournalEntry> inSpan;
    if (!journal.entries(&all, false) || !journal.entries(&inSpan, filter)) {
        *error = QString("cannot read the journal %1: %2").arg(path, journal.errorString());
        return false;
    }
    QHash<QString, QVector<JournalEntry>> byPayment;
    for (const JournalEntry& row : all) {
        byPayment[row.paymentId] << row;
    }
    QVector<JournalEntry> asked;
    QStringList payments; // in the order the day made them
    for (auto it = inSpan.crbegin(); it != inSpan.crend(); ++it) {
        // A row without a payment id cannot be asked about; one still at work is listed.
        if (it->operation != Operation::Fiscal && (!it->paymentId.isEmpty() || !it->isSettled())) {
            asked << *it;
            if (!it->paymentId.isEmpty() && !payments.contains(it->paymentId)) {
                payments << it->paymentId;
            }
        }
    }

    // One request at a time: a shop's line is not for a report to fill.
    QHash<QString, QString> statuses;
    QElapsedTimer spent;
    spent.start();
    int answered = 0;
    for (int i = 0; i < payments.size(); ++i) {
        const qint64 left = budgetMs - spent.elapsed();
        if (left <= 0) {
            std::fprintf(stderr, "reconcile: the time budget is spent, %d payments not asked\n",
                         int(payments.size()) - i);
            break;
        }
        const QString status = lookup(payments[i]);
        statuses.insert(payments[i], status);
        answered += status.isEmpty() ? 0 : 1;
        if ((i + 1) % 10 == 0 || i + 1 == payments.size()) {
            std::fprintf(stderr, "reconcile: %d of %d payments asked\n", i + 1,
                         int(payments.size()));
        }
    }

    int counts[4] = {};
    QJsonArray disagreements;
    QJsonArray unsure; // rows recovery or a person decides: the day's sums leave them out
    QString lines;
    QString unsureLines;
    for (const JournalEntry& row : asked) {
        const QString status = statuses.value(row.paymentId);
        const Verdict verdict = judge(row, byPayment.value(row.paymentId), status);
        ++counts[int(verdict.kind)];
        if (!status.isEmpty()) {
            journal.noteReconciliation(row.id, status);
        }
        const bool settledByTill = row.isSettled() && row.state != State::Resolved;
        if (verdict.kind != Kind::Disagrees && settledByTill) {
            continue;
        }
        QJsonObject item = entryJson(row);
        item.insert("providerStatusNow", status);
        const QString reason =
            verdict.kind == Kind::Disagrees ? verdict.reason
            : row.paymentId.isEmpty()
                ? journalSays(row) + ", no payment id: find the transaction at the provider"
                : journalSays(row) + "; provider: " + orDash(status);
        item.insert("reason", reason);
        const QString line =
            QString("  %1  %2  %3\n")
                .arg(shortId(row.id), printable(orDash(row.paymentId)), printable(reason));
        if (verdict.kind == Kind::Disagrees) {
            lines += line;
            disagreements.append(item);
        } else {
            unsureLines += line;
            unsure.append(item);
        }
    }
    const int agreeing = counts[int(Kind::Agrees)] + counts[int(Kind::CannotTell)];
    const int disagreeing = counts[int(Kind::Disagrees)];
    const int unanswered = counts[int(Kind::Unanswered)];
    outcome->operation = "reconcile";
    outcome->state = disagreeing > 0  ? ResultState::Declined
                     : unanswered > 0 ? ResultState::Unknown
                                      : ResultState::Approved;
    journal.noteRun("reconcile", outcome->exitStatus(), disagreeing);

    QString text = QString("==== RECONCILE %1 .. %2\n  journal %3\n")
                       .arg(localTime(filter.since), localTime(filter.until), path);
    text += QString("\nDisagreements: %1\n").arg(disagreeing) + lines;
    text += QString("\nNot settled, or settled by hand: %1 (recovery or a person decides)\n")
                .arg(unsure.size()) +
            unsureLines;
    text += QString("\n  agreeing     %1 (%2 the provider's status cannot tell)\n"
                    "  disagreeing  %3\n  unanswered   %4\n  payments     %5 asked, %6 answered\n")
                .arg(agreeing)
                .arg(counts[int(Kind::CannotTell)])
                .arg(disagreeing)
                .arg(unanswered)
                .arg(statuses.size())
                .arg(answered);
    outcome->customJson = {{"operation", "reconcile"},
                           {"journal", path},
                           {"since", filter.since.toUTC().toString(Qt::ISODateWithMs)},
                           {"until", filter.until.toUTC().toString(Qt::ISODateWithMs)},
                           {"agreeing", agreeing},
                           {"cannotTell", counts[int(Kind::CannotTell)]},
                           {"disagreeing", disagreeing},
                           {"unanswered", unanswered},
                           {"payments", int(statuses.size())},
                           {"disagreements", disagreements},
                           {"notSettled", unsure}};
    outcome->customReceipt = text;
    return true;
}

} // namespace till
