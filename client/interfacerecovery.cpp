// Recovery of the payment journal: what a crashed or killed process left open is
// looked up at the provider and finished, so no customer stays charged for nothing.
#include "interface.h"

#include "operationjournal.h"
#include "processidentity.h"
#include "waitgate.h"

#include <log4qt/logger.h>

#include <QJsonObject>

#include <algorithm>

namespace oxlenpay {

namespace {

using State = JournalEntry::State;
using Operation = JournalEntry::Operation;

qint64 millisecondsUntil(WaitClock::TimePoint deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - WaitClock::now())
        .count();
}

void close(JournalEntry* entry, State state, const QString& key)
{
    entry->state = state;
    entry->messageKey = key;
}

} // namespace

bool Interface::recoverJournal(QVector<RecoveredEntry>* recovered, QString* error) const
{
    recovered->clear();
    RequestResult refusal;
    if (!journal->isEnabled()) {
        *error = QString("the journal is turned off (%1 is empty)").arg(settings::Journal);
        return false;
    }
    QVector<JournalEntry> open;
    if (!journal->ready(&refusal) || !journal->openEntries(&open)) {
        *error = refusal.message.isEmpty() ? "the journal cannot be read" : refusal.message.ru();
        return false;
    }
    WaitGate::Running running(*waitGate);
    std::reverse(open.begin(), open.end()); // the oldest first
    const auto deadline = WaitClock::now() + std::chrono::milliseconds(settings::RecoveryLimitMs);
    for (const JournalEntry& entry : open) {
        RecoveredEntry item{entry, entry, QString()};
        if (ProcessIdentity{entry.ownerPid, entry.ownerStart}.isAlive()) {
            item.note = QString("left open: its process %1 still runs").arg(entry.ownerPid);
        } else if (waitGate->interrupted()) {
            item.note = "left open: the recovery was interrupted";
        } else if (millisecondsUntil(deadline) <= 0) {
            item.note = "left open: the time for recovery is up";
        } else {
            item.after = recoverEntry(entry, deadline, &item.note);
            journal->save(&item.after);
            logger->info(QString("Журнал: %1 %2, платеж %3: %4 -> %5 %6")
                             .arg(JournalEntry::operationName(entry.operation), entry.id,
                                  entry.paymentId.isEmpty() ? "-" : entry.paymentId,
                                  JournalEntry::stateName(entry.state),
                                  JournalEntry::stateName(item.after.state),
                                  item.after.isOpen() ? item.note : item.after.messageKey));
        }
        recovered->append(item);
    }
    return true;
}

JournalEntry Interface::recoverEntry(const JournalEntry& open, WaitClock::TimePoint deadline,
                                     QString* note) const
{
    JournalEntry entry = open;
    if (entry.operation == Operation::Fiscal) {
        // The host keeps fiscal messages queued until one is confirmed: it sends this again.
        close(&entry, State::Declined, "fiscalNotConfirmed");
        return entry;
    }
    if (entry.paymentId.isEmpty()) {
        // A sale whose answer never came: the provider's API cannot look it up by our id.
        close(&entry, State::Unknown, "requestOutcomeUnknown");
        return entry;
    }
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", entry.paymentId}};
    const RequestResult status = sendRequest(PaymentStatus, body);
    if (!status.success && status.errorCode == 0) {
        *note = "left open: no status from the provider: " + status.message.ru();
        return entry;
    }
    const QString reported = status.success ? status.getPaymentStatus() : QString();
    entry.providerStatus = reported;
    if (entry.operation != Operation::Sale) {
        // A refund's fate shows only when the payment is wholly returned or failed; the
        // payment's status cannot tell a partial refund from an earlier one.
        if (reported == "FAILED") {
            close(&entry, State::Declined, "requestStatusFailed");
        } else if (reported == "REVERSED" && entry.operation == Operation::Reversal) {
            close(&entry, State::Done, QString());
        } else {
            close(&entry, State::Unknown, "requestOutcomeUnknown");
        }
        return entry;
    }
    if (!status.success) {
        close(&entry, State::Unknown, "requestOutcomeUnknown");
    } else if (reported == "FAILED") {
        close(&entry, State::Declined, "requestStatusFailed");
    } else if (reported == "REVERSED") {
        close(&entry, State::Reversed, "paymentReversed");
    } else {
        // Charged or still pending, and the host never heard of it: give the money back.
        logger->info("Оплата %1 не завершена: отправляется ее полная отмена", entry.paymentId);
        const qint64 limit = qMin<qint64>(millisecondsUntil(deadline), settings::CloseOutLimitMs);
        const Wait reversed = reverseWhole(entry.paymentId, qMax<qint64>(limit, 0), nullptr);
        const QString after = reversed.result.getPaymentStatus();
        if (reversed.result.success && after == "REVERSED") {
            close(&entry, State::Reversed, "paymentReversed");
        } else if (reversed.result.errorCode != 0 || after == "FAILED") {
            close(&entry, State::Unknown, "requestOutcomeUnknown");
        } else {
            entry.state = State::Waiting;
            *note = "left open: the reversal did not settle in time";
        }
        if (!after.isEmpty()) {
            entry.providerStatus = after;
        }
    }
    return entry;
}

} // namespace oxlenpay
