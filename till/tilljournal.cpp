#include "tilljournal.h"

#include <algorithm>

#include "amount.h"
#include "config.h"
#include "journal.h"
#include "journalplace.h"
#include "printable.h"
#include "processidentity.h"
#include "settings.h"

#include <QFileInfo>
#include <QJsonArray>

#include <QMetaObject>
#include <QVariantMap>
#include <unistd.h>

namespace till {

namespace {

using oxlenpay::JournalEntry;

bool isSettled(const QString& state)
{
    JournalEntry::State value = JournalEntry::State::Sending;
    JournalEntry entry;
    if (!JournalEntry::stateFromName(state, &value)) {
        return false;
    }
    entry.state = value;
    return entry.isSettled();
}

bool openExisting(oxlenpay::Journal* journal, const QString& path, oxlenpay::Journal::OpenMode mode,
                  QString* error)
{
    if (path.isEmpty()) {
        *error =
            QString("the journal is turned off (%1 is empty)").arg(oxlenpay::settings::Journal);
        return false;
    }
    if (!journal->open(path, mode)) {
        *error = QString("cannot read the journal %1: %2").arg(path, journal->errorString());
        return false;
    }
    return true;
}

QString orDash(const QString& text)
{
    return text.isEmpty() ? "-" : text;
}

} // namespace

QString journalPath()
{
    if (!Singleton<Config>::instance) {
        Singleton<Config>::instance = new Config; // the host's, kept for the whole run
    }
    Config* config = Singleton<Config>::instance;
    config->loadFile(oxlenpay::settings::ConfigPath, QString());
    const QString configured =
        config->getString(oxlenpay::settings::Journal, oxlenpay::settings::JournalNotConfigured)
            .trimmed();
    // Found the way the plug-in finds it: the first place holding a journal, else the place a
    // sale would make one at.
    const oxlenpay::JournalPlace place = oxlenpay::JournalPlace::ofHost(configured);
    QString problem;
    return place.inUse(&problem);
}

bool journalOwnedByMe(QString* error)
{
    const QString path = journalPath();
    if (path.isEmpty()) {
        return true;
    }
    const QFileInfo file(path);
    const QFileInfo owned = file.exists() ? file : QFileInfo(file.absolutePath());
    if (!owned.exists() || owned.ownerId() == ::geteuid()) {
        return true;
    }
    *error = QString("the journal %1 belongs to the user %2 (uid %3): run the till as that user, "
                     "or the files it makes would shut the host out")
                 .arg(owned.absoluteFilePath(), owned.owner())
                 .arg(owned.ownerId());
    return false;
}

bool openJournal(oxlenpay::Journal* journal, oxlenpay::Journal::OpenMode mode, QString* path,
                 QString* error)
{
    *path = journalPath();
    return openExisting(journal, *path, mode, error);
}

bool remainingOf(const QString& paymentId, qint64* remaining)
{
    oxlenpay::Journal journal;
    QString path, error;
    QVector<JournalEntry> rows;
    oxlenpay::Journal::Filter ofPayment;
    ofPayment.paymentId = paymentId;
    if (paymentId.isEmpty() || journalPath().isEmpty() ||
        !openJournal(&journal, oxlenpay::Journal::OpenMode::ReadOnly, &path, &error) ||
        !journal.entries(&rows, ofPayment)) {
        return false;
    }
    using Operation = JournalEntry::Operation;
    using State = JournalEntry::State;
    const auto sale = std::find_if(rows.begin(), rows.end(), [](const JournalEntry& row) {
        return row.operation == Operation::Sale;
    });
    if (sale == rows.end() || !sale->amountKnown) {
        return false;
    }
    if (sale->state == State::Declined || sale->state == State::Reversed) {
        *remaining = 0;
        return true;
    }
    if (sale->state != State::Done) {
        return false;
    }
    *remaining = sale->amount;
    for (const JournalEntry& row : rows) {
        if (row.state != State::Done) {
            continue;
        }
        if (row.operation == Operation::Reversal) {
            *remaining = 0;
        } else if (row.operation == Operation::PartialReversal && row.amountKnown) {
            *remaining -= row.amount;
        }
    }
    *remaining = std::max<qint64>(0, *remaining);
    return true;
}

bool resolveEntry(const QString& id, const QString& note, Outcome* outcome, QString* error,
                  bool* ioFailure)
{
    const QString path = journalPath();
    oxlenpay::Journal journal;
    *ioFailure = !path.isEmpty();
    if (!openExisting(&journal, path, oxlenpay::Journal::OpenMode::ExistingOnly, error)) {
        return false;
    }
    if (!journal.resolve(id, note.trimmed())) {
        *error = QString("cannot resolve %1: %2").arg(id, journal.errorString());
        QVector<JournalEntry> found;
        oxlenpay::Journal::Filter filter;
        filter.id = id;
        // Not waiting for a person (or no such entry) is a usage mistake; the rest is I/O.
        *ioFailure = !journal.entries(&found, filter) ||
                     (!found.isEmpty() && found.first().state == JournalEntry::State::Attention);
        return false;
    }
    outcome->operation = "resolve";
    outcome->state = ResultState::Approved;
    outcome->customJson = {{"operation", "resolve"}, {"id", id}, {"note", note.trimmed()}};
    outcome->customReceipt = QString("==== RESOLVE ===========================\n") +
                             receiptLine("Entry", id) + receiptLine("Note", note.trimmed());
    return true;
}

namespace {

// The plug-in's own account of the operation; empty when it gives none.
QVariantMap lastOperationOf(QObject* plugin)
{
    QVariantMap last;
    if (!plugin || !QMetaObject::invokeMethod(plugin, "lastOperation", Qt::DirectConnection,
                                              Q_RETURN_ARG(QVariantMap, last))) {
        return QVariantMap();
    }
    return last;
}

} // namespace

void settleFromPlugin(QObject* plugin, Outcome* outcome)
{
    const QVariantMap last = lastOperationOf(plugin);
    if (last.isEmpty()) {
        // A plug-in that says nothing: a failure cannot be told from an unknown outcome.
        if (!outcome->answer.isSuccess()) {
            outcome->state = ResultState::Unknown;
        }
        return;
    }
    const QString settlement = last.value("settlement").toString();
    if (settlement == "approved") {
        outcome->state = ResultState::Approved;
    } else if (settlement == "declined" || settlement == "reversed") {
        outcome->state = ResultState::Declined;
    } else {
        outcome->state = ResultState::Unknown; // unknown, reversalOwed, or a name not known here
    }
    outcome->transactionId = last.value("transactionId").toString();
    if (!last.value("paymentId").toString().isEmpty()) {
        outcome->paymentId = last.value("paymentId").toString();
    }
    outcome->journalState = last.value("journalState").toString();
    outcome->journalRecorded = last.value("journalRecorded").toBool();
}

QString operationReference(QObject* plugin)
{
    const QVariantMap last = lastOperationOf(plugin);
    if (last.isEmpty() || !last.value("running").toBool()) {
        return QString();
    }
    const QString paymentId = last.value("paymentId").toString();
    return paymentId.isEmpty()
               ? "none yet (transaction " + last.value("transactionId").toString() + ")"
               : paymentId;
}

bool recoverJournal(QObject* plugin, Outcome* outcome, QString* error)
{
    QVariantMap report;
    if (!QMetaObject::invokeMethod(plugin, "recoverJournal", Qt::DirectConnection,
                                   Q_RETURN_ARG(QVariantMap, report))) {
        *error = "the plug-in cannot recover a journal";
        return false;
    }
    if (report.contains("error")) {
        *error = "cannot recover the journal: " + report.value("error").toString();
        return false;
    }
    outcome->operation = "recover";
    outcome->state = ResultState::Approved;
    QJsonArray rows;
    QString text = "==== RECOVER ===========================\n";
    for (const QVariant& value : report.value("entries").toList()) {
        const QVariantMap item = value.toMap();
        const QString after = item.value("after").toString();
        if (!isSettled(after)) {
            outcome->state = ResultState::Unknown;
        }
        rows.append(QJsonObject::fromVariantMap(item));
        QString line = QString("  %1 %2 (payment %3, %4): %5 -> %6")
                           .arg(item.value("operation").toString(), item.value("id").toString(),
                                orDash(item.value("paymentId").toString()),
                                formatAmount(item.value("amount").toLongLong()),
                                item.value("before").toString(), after);
        const QString key = item.value("key").toString();
        const QString note = item.value("note").toString();
        if (!note.isEmpty()) {
            line += ", " + note;
        } else if (!key.isEmpty()) {
            line += " (" + key + ")";
        }
        const QString reference = item.value("paymentId").toString().isEmpty()
                                      ? "transaction " + item.value("id").toString()
                                      : "payment " + item.value("paymentId").toString();
        if (after == "attention") {
            line += "\n    needs a person: check with the provider: " + reference +
                    "\n    then: oxlenpay-till journal resolve " +
                    shellQuoted(item.value("id").toString()) + " --note \"what was found\"";
        } else if (after == "unknown") {
            line += "\n    recovery goes on with it: " + reference;
        }
        text += line + '\n';
    }
    if (rows.isEmpty()) {
        text += "  nothing was left open\n";
    }
    outcome->customJson = {{"operation", "recover"},
                           {"success", outcome->state == ResultState::Approved},
                           {"entries", rows}};
    outcome->customReceipt = text;
    return true;
}

} // namespace till
