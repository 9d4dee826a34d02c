// Recovery of the payment journal: rows whose outcome is not settled are looked up at
// the provider and finished, so no customer stays charged for nothing. It runs in the
// idle time of waits and in the till's `recover`, never between an operation's start
// and its own request.
#include "interface.h"

#include "operationjournal.h"
#include "waitgate.h"

#include <log4qt/logger.h>

#include <QJsonObject>

namespace oxlenpay {

namespace {

using State = JournalEntry::State;
using Operation = JournalEntry::Operation;

qint64 millisecondsUntil(WaitClock::TimePoint deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - WaitClock::now())
        .count();
}

void settle(JournalEntry* entry, State state, const QString& key)
{
    entry->state = state;
    entry->messageKey = key;
}

QString russianName(Operation operation)
{
    switch (operation) {
    case Operation::Sale:
        return "оплата";
    case Operation::Reversal:
        return "полный возврат";
    case Operation::PartialReversal:
        return "частичный возврат";
    case Operation::Fiscal:
        return "фискальная ссылка";
    }
    return QString();
}

QString russianName(State state)
{
    switch (state) {
    case State::Sending:
        return "отправляется";
    case State::Waiting:
        return "ожидает подтверждения";
    case State::Done:
        return "выполнена";
    case State::Declined:
        return "отклонена";
    case State::Reversed:
        return "отменена";
    case State::Unknown:
        return "результат неизвестен";
    case State::Attention:
        return "нужна проверка";
    case State::Resolved:
        return "закрыта вручную";
    }
    return QString();
}

/// The state a row of a gone handle is taken over in: open rows become recovery's work.
State takenOverAs(const JournalEntry& row)
{
    if (!row.isOpen()) {
        return row.state;
    }
    if (row.operation == Operation::Fiscal) {
        return State::Declined; // the host keeps fiscal messages queued until one is confirmed
    }
    if (row.paymentId.isEmpty() || row.operation == Operation::PartialReversal) {
        return State::Attention; // nothing to look up, or nothing a status can prove
    }
    return State::Unknown;
}

} // namespace

Interface::RequestResult Interface::sendWithin(Method method, const QJsonObject& body,
                                               WaitClock::TimePoint deadline, qint64 capMs) const
{
    exchangeLimitMs = qMax<qint64>(qMin(capMs, millisecondsUntil(deadline)), 1);
    const RequestResult result = sendRequest(method, body);
    exchangeLimitMs = -1;
    return result;
}

bool Interface::recoverJournal(QVector<RecoveredEntry>* recovered, QString* error) const
{
    recovered->clear();
    RequestResult refusal;
    if (!journal->isEnabled()) {
        *error = QString("the journal is turned off (%1 is empty)").arg(settings::Journal);
        return false;
    }
    if (!journal->ready(&refusal)) {
        *error = refusal.message.ru();
        return false;
    }
    WaitGate::Running running(*waitGate);
    const auto deadline = WaitClock::now() + std::chrono::milliseconds(settings::RecoveryLimitMs);
    QHash<QString, int> position;
    for (;;) {
        QVector<RecoveredEntry> pass;
        if (!recoveryPass(deadline, timeout, &pass)) {
            *error = "the journal cannot be read";
            return false;
        }
        bool changed = false;
        bool owedWork = false;
        for (const RecoveredEntry& item : pass) {
            changed = changed || item.after.state != item.before.state;
            owedWork = owedWork || item.after.state == State::Unknown;
            const auto known = position.constFind(item.before.id);
            if (known == position.constEnd()) {
                position.insert(item.before.id, recovered->size());
                recovered->append(item);
            } else {
                (*recovered)[*known].after = item.after;
                (*recovered)[*known].note = item.note;
            }
        }
        // Another pass only when the last one moved something and a reversal still awaits
        // its confirmation; the provider is given one polling period for it.
        if (!changed || !owedWork || waitGate->interrupted()) {
            break;
        }
        const auto next = qMin(deadline, WaitClock::now() + std::chrono::milliseconds(frequency));
        if (!waitGate->sleepUntil(next) || millisecondsUntil(deadline) <= 0) {
            break;
        }
    }
    return true;
}

void Interface::recoverWhileIdle(WaitClock::TimePoint until) const
{
    if (!journal->isEnabled() || millisecondsUntil(until) < settings::IdleRecoveryFloorMs) {
        return;
    }
    journal->setBusyTimeout(
        int(qMin<qint64>(millisecondsUntil(until), settings::IdleRecoveryExchangeMs)));
    QVector<RecoveredEntry> items;
    recoveryPass(until, settings::IdleRecoveryExchangeMs, &items,
                 WaitClock::now() - std::chrono::milliseconds(settings::IdleRecoveryRetryMs));
    journal->setBusyTimeout(-1);
}

bool Interface::recoveryPass(WaitClock::TimePoint deadline, qint64 exchangeCapMs,
                             QVector<RecoveredEntry>* items, WaitClock::TimePoint retryAfter) const
{
    QVector<JournalEntry> rows;
    if (!journal->unsettledEntries(&rows)) {
        return false;
    }
    const bool idle = retryAfter != WaitClock::TimePoint();
    for (const JournalEntry& row : rows) {
        RecoveredEntry item{row, row, QString()};
        const bool mine = journal->isMine(row);
        if (mine && row.isOpen()) {
            continue; // the operation running here right now
        }
        if (idle && recoveryTried.contains(row.id) && recoveryTried.value(row.id) > retryAfter) {
            continue;
        }
        if (!mine && journal->isWriterAlive(row)) {
            item.note = "left as it is: the till that owns it still runs";
        } else if (waitGate->interrupted()) {
            item.note = "left as it is: the recovery was interrupted";
        } else if (millisecondsUntil(deadline) < settings::IdleRecoveryFloorMs) {
            item.note = "left as it is: the time for recovery is up";
        } else if (!mine && !journal->claim(&item.after, takenOverAs(row))) {
            item.after = row;
            item.note = "left as it is: another recovery took it";
        } else {
            if (idle) {
                recoveryTried.insert(row.id, WaitClock::now());
            }
            const JournalEntry claimed = item.after;
            item.after = recoverEntry(claimed, deadline, exchangeCapMs, &item.note);
            if (item.after.state != claimed.state ||
                item.after.providerStatus != claimed.providerStatus ||
                item.after.messageKey != claimed.messageKey) {
                journal->save(&item.after);
            }
            logger->info("%1", QString("Журнал: %1 %2, платеж %3: %4 -> %5")
                                   .arg(russianName(row.operation), row.id,
                                        row.paymentId.isEmpty() ? "-" : row.paymentId,
                                        russianName(row.state), russianName(item.after.state)));
        }
        items->append(item);
    }
    return true;
}

JournalEntry Interface::recoverEntry(const JournalEntry& claimed, WaitClock::TimePoint deadline,
                                     qint64 exchangeCapMs, QString* note) const
{
    JournalEntry entry = claimed;
    if (entry.operation == Operation::Fiscal) {
        settle(&entry, State::Declined, "fiscalNotConfirmed");
        return entry;
    }
    if (entry.isSettled()) {
        return entry;
    }
    if (entry.paymentId.isEmpty()) {
        // A sale whose answer never came: the provider's API cannot look it up by our id.
        entry.state = State::Attention;
        *note = "needs a person: no payment id to look up";
        return entry;
    }
    const QJsonObject body{{"service_id", merchantServiceId}, {"payment_id", entry.paymentId}};
    const RequestResult status = sendWithin(PaymentStatus, body, deadline, exchangeCapMs);
    if (!status.success && status.errorCode == 0) {
        *note = "no status from the provider: " + status.message.ru();
        return entry;
    }
    if (status.success &&
        (status.getRrn() != entry.paymentId || status.getPaymentStatus().isEmpty())) {
        // A lost answer, or one about another payment, says nothing about this one.
        *note = "no status from the provider: its answer was lost or named another payment";
        return entry;
    }
    if (!status.success) {
        entry.state = State::Attention;
        *note = "needs a person: the provider does not give its status: " + status.message.ru();
        return entry;
    }
    const QString reported = status.getPaymentStatus();
    if (!reported.isEmpty()) {
        entry.providerStatus = reported;
    }
    if (reported == "FAILED") {
        settle(&entry, State::Declined, "requestStatusFailed");
        return entry;
    }
    if (entry.operation == Operation::Reversal) {
        if (reported == "REVERSED") {
            settle(&entry, State::Done, QString());
        } else if (reported == "SUCCESS") {
            entry.state = State::Attention;
            *note = "needs a person: the payment was not returned";
        } else {
            *note = "the payment is not final yet";
        }
        return entry;
    }
    if (entry.operation == Operation::PartialReversal) {
        *note = "needs a person: a payment's status cannot tell one partial refund from another";
        return entry;
    }
    if (reported == "REVERSED") {
        settle(&entry, State::Reversed, "paymentReversed");
        return entry;
    }
    if (entry.state == State::Attention) {
        *note =
            QString("needs a person: the payment is %1").arg(reported.isEmpty() ? "-" : reported);
        return entry;
    }
    if (millisecondsUntil(deadline) < settings::IdleRecoveryFloorMs) {
        *note = "the reversal is left for later: the time for recovery is up";
        return entry;
    }
    // Charged or still pending, and the host never heard it approved: give the money back.
    logger->info("Оплата %1 не завершена: отправляется ее полная отмена", entry.paymentId);
    const RequestResult reversal = sendWithin(Reversal, body, deadline, exchangeCapMs);
    const QString named = reversal.getRrn();
    if (reversal.success && (named.isEmpty() || named == entry.paymentId) &&
        reversal.getPaymentStatus() == "REVERSED") {
        settle(&entry, State::Reversed, "paymentReversed");
        entry.providerStatus = "REVERSED";
    } else if (reversal.errorCode != 0 || reversal.getPaymentStatus() == "FAILED") {
        entry.state = State::Attention;
        *note = "needs a person: the provider refused the reversal: " + reversal.message.ru();
    } else {
        *note = "the reversal is not confirmed yet";
    }
    return entry;
}

} // namespace oxlenpay
