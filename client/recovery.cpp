#include "recovery.h"

#include "decision.h"
#include "messages.h"
#include "operationjournal.h"
#include "providerreply.h"
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
    decision::Facts facts;
    facts.hasPaymentId = !row.paymentId.isEmpty();
    return decision::next(row.operation, row.state, decision::Evidence::WriterGone, facts).state;
}

// The journal's key for a state recovery settled a row in.
QString settledKey(const JournalEntry& row, decision::Status status)
{
    switch (row.state) {
    case State::Reversed:
        return "paymentReversed";
    case State::Declined:
        if (row.operation == Operation::Fiscal) {
            return "fiscalNotConfirmed";
        }
        return status == decision::Status::Failed ? "requestStatusFailed" : "reversalNotCarriedOut";
    case State::Done:
        return QString();
    default:
        return row.messageKey;
    }
}

} // namespace

Recovery::Recovery(Log4Qt::Logger* logger, std::shared_ptr<OperationJournal> journal,
                   std::shared_ptr<WaitGate> waitGate)
    : m_logger(logger), m_journal(std::move(journal)), m_waitGate(std::move(waitGate))
{
}

bool Recovery::triedSince(const QString& id, WaitClock::TimePoint since)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto tried = m_tried.constFind(id);
    return tried != m_tried.constEnd() && *tried > since;
}

void Recovery::markTried(const QString& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tried.insert(id, WaitClock::now());
}

bool Recovery::run(const Settings& settings, const Exchange& exchange,
                   QVector<Interface::RecoveredEntry>* recovered, QString* error)
{
    recovered->clear();
    Interface::RequestResult refusal;
    if (!m_journal->isEnabled()) {
        *error = QString("the journal is turned off (%1 is empty)").arg(settings::Journal);
        return false;
    }
    if (!m_journal->exists()) {
        return true; // nothing was ever sent: no journal has been made yet
    }
    if (!m_journal->ready(&refusal, false)) {
        *error = refusal.message.ru();
        return false;
    }
    WaitGate::Running running(*m_waitGate);
    const auto deadline = WaitClock::now() + std::chrono::milliseconds(settings::RecoveryLimitMs);
    QHash<QString, int> position;
    for (;;) {
        QVector<Interface::RecoveredEntry> found;
        if (!pass(settings, exchange, deadline, settings.timeoutMs, &found)) {
            *error = "the journal cannot be read";
            return false;
        }
        bool changed = false;
        bool owedWork = false;
        for (const Interface::RecoveredEntry& item : found) {
            changed = changed || item.after.state != item.before.state;
            // A row refused just now waits for its backoff, even in an explicit recovery.
            owedWork = owedWork || (item.after.state == State::Unknown &&
                                    item.after.refusals == item.before.refusals);
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
        if (!changed || !owedWork || m_waitGate->interrupted()) {
            break;
        }
        const auto next =
            qMin(deadline, WaitClock::now() + std::chrono::milliseconds(settings.frequencyMs));
        if (!m_waitGate->sleepUntil(next) || millisecondsUntil(deadline) <= 0) {
            break;
        }
    }
    return true;
}

void Recovery::whileIdle(const Settings& settings, const Exchange& exchange,
                         WaitClock::TimePoint until)
{
    if (!m_journal->isEnabled() || millisecondsUntil(until) < settings::IdleRecoveryFloorMs) {
        return;
    }
    QVector<Interface::RecoveredEntry> items;
    pass(settings, exchange, until, settings::IdleRecoveryExchangeMs, &items,
         WaitClock::now() - std::chrono::milliseconds(settings::IdleRecoveryRetryMs));
}

bool Recovery::pass(const Settings& settings, const Exchange& exchange,
                    WaitClock::TimePoint deadline, qint64 exchangeCapMs,
                    QVector<Interface::RecoveredEntry>* items, WaitClock::TimePoint retryAfter)
{
    const bool idle = retryAfter != WaitClock::TimePoint();
    // A held write lock waits no longer than the time recovery has left.
    const auto capBusyWait = [&] {
        const qint64 cap = idle ? settings::IdleRecoveryExchangeMs : settings::JournalBusyMs;
        m_journal->setBusyTimeout(int(qBound<qint64>(1, millisecondsUntil(deadline), cap)));
    };
    capBusyWait();
    QVector<JournalEntry> rows;
    const bool read = m_journal->unsettledEntries(&rows);
    for (const JournalEntry& row : rows) {
        capBusyWait();
        Interface::RecoveredEntry item{row, row, QString()};
        const bool mine = m_journal->isMine(row);
        if (mine && row.isOpen()) {
            continue; // the operation running here right now
        }
        if (idle && triedSince(row.id, retryAfter)) {
            continue;
        }
        if (idle && row.retryAfter.isValid() && row.retryAfter > Journal::wallClock()) {
            continue; // refused lately: the backoff paces a host's idle time, not `recover`
        }
        if (!mine && m_journal->isWriterAlive(row)) {
            item.note = "left as it is: the till that owns it still runs";
        } else if (m_waitGate->interrupted()) {
            item.note = "left as it is: the recovery was interrupted";
        } else if (millisecondsUntil(deadline) < settings::IdleRecoveryFloorMs) {
            item.note = "left as it is: the time for recovery is up";
        } else if (!mine && !m_journal->claim(&item.after, takenOverAs(row))) {
            item.after = row;
            item.note = "left as it is: another recovery took it";
        } else {
            if (idle) {
                markTried(row.id);
            }
            const JournalEntry claimed = item.after;
            item.after =
                recoverEntry(settings, exchange, claimed, deadline, exchangeCapMs, &item.note);
            if (item.after.state != claimed.state ||
                item.after.providerStatus != claimed.providerStatus ||
                item.after.messageKey != claimed.messageKey ||
                item.after.refusals != claimed.refusals ||
                item.after.notCarriedSince != claimed.notCarriedSince) {
                m_journal->save(&item.after);
            }
            m_logger->info("%1", QString("Журнал: %1 %2, платеж %3: %4 -> %5")
                                     .arg(russianName(row.operation), row.id,
                                          row.paymentId.isEmpty() ? "-" : row.paymentId,
                                          russianName(row.state), russianName(item.after.state)));
        }
        items->append(item);
    }
    m_journal->setBusyTimeout(-1);
    return read;
}

JournalEntry Recovery::recoverEntry(const Settings& settings, const Exchange& exchange,
                                    const JournalEntry& claimed, WaitClock::TimePoint deadline,
                                    qint64 exchangeCapMs, QString* note) const
{
    JournalEntry entry = claimed;
    if (entry.isSettled()) {
        return entry;
    }
    decision::Facts facts;
    facts.hasPaymentId = !entry.paymentId.isEmpty();
    facts.reverseUnknown = settings.reverseUnknown;
    const QDateTime now = Journal::wallClock();
    if (entry.operation == Operation::Fiscal || !facts.hasPaymentId) {
        // Nothing to look up: a receipt link the host sends again, or a row with no payment id.
        const decision::Outcome outcome =
            decision::next(entry.operation, entry.state, decision::Evidence::WriterGone, facts);
        entry.state = outcome.state;
        entry.messageKey = settledKey(entry, decision::Status::None);
        if (outcome.action == decision::Action::TellPerson) {
            *note = "needs a person: no payment id to look up";
        }
        return entry;
    }

    // Applies one exchange's reply to the row; the outcome says what comes next.
    const auto learn = [&](const Interface::RequestResult& result, const char* what) {
        const ProviderReply reply = ProviderReply::of(result);
        const decision::Evidence evidence = decision::evidenceOf(reply, entry.paymentId);
        facts.status = reply.status;
        if (evidence == decision::Evidence::Refused) {
            ++entry.refusals;
            if (!entry.firstRefused.isValid()) {
                entry.firstRefused = now;
            }
            entry.retryAfter = now.addMSecs(decision::refusalBackoffMs(entry.refusals));
            entry.providerText = messages::capped(result.message.ru()); // its own words
            facts.refusalsDue = entry.refusals >= decision::RefusalsForAttention &&
                                entry.firstRefused.msecsTo(now) >= decision::RefusalSpanMs;
        }
        if (entry.operation == Operation::Reversal && evidence == decision::Evidence::Answered &&
            (reply.status == decision::Status::Success ||
             reply.status == decision::Status::PartialCancelled)) {
            // Timed on the wall clock, counted again from now whenever it stepped back.
            if (!entry.notCarriedSince.isValid() || entry.notCarriedSince > now) {
                entry.notCarriedSince =
                    entry.created.isValid() && entry.created <= now ? entry.created : now;
            }
            facts.hourSinceRequest = entry.notCarriedSince.msecsTo(now) >= decision::CancelSettleMs;
        }
        if (evidence == decision::Evidence::Answered && !reply.statusText.isEmpty()) {
            if (reply.status == decision::Status::Other &&
                reply.statusText != entry.providerStatus) {
                m_logger->warn(
                    QString("Платеж %1: неизвестный статус '%2', запись оставлена как есть")
                        .arg(entry.paymentId, reply.statusText)
                        .toUtf8()
                        .constData());
            }
            entry.providerStatus = reply.statusText;
        }
        const decision::Outcome outcome =
            decision::next(entry.operation, entry.state, evidence, facts);
        entry.state = outcome.state;
        entry.messageKey = settledKey(entry, reply.status);
        switch (outcome.action) {
        case decision::Action::TellPerson:
            *note = evidence == decision::Evidence::Refused
                        ? QString("needs a person: the provider refused %1 again and again: %2")
                              .arg(what, result.message.ru())
                        : QString("needs a person: the payment is %1")
                              .arg(reply.statusText.isEmpty() ? "-" : reply.statusText);
            break;
        case decision::Action::RetryLater:
            if (evidence == decision::Evidence::Refused) {
                *note = QString("left for later: the provider refused %1: %2")
                            .arg(what, result.message.ru());
            } else if (evidence == decision::Evidence::Answered) {
                *note = QString("left for later: the payment is %1")
                            .arg(reply.statusText.isEmpty() ? "-" : reply.statusText);
            } else {
                *note = QString("no status from the provider: %1 (%2)")
                            .arg(result.message.isEmpty() ? QString(what) : result.message.ru(),
                                 decision::evidenceName(evidence));
            }
            break;
        default:
            break;
        }
        return outcome;
    };

    // An exchange's time-out is cut to what is left before the deadline.
    const auto within = [&](Interface::Method method, const QJsonObject& request) {
        return exchange(method, request,
                        qMax<qint64>(qMin(exchangeCapMs, millisecondsUntil(deadline)), 1));
    };
    const QJsonObject body{{"service_id", settings.merchantServiceId},
                           {"payment_id", entry.paymentId}};
    const decision::Outcome looked =
        learn(within(Interface::PaymentStatus, body), "the status request");
    if (looked.action != decision::Action::Reverse) {
        return entry;
    }
    if (millisecondsUntil(deadline) < settings::IdleRecoveryFloorMs) {
        *note = "the reversal is left for later: the time for recovery is up";
        return entry;
    }
    // Charged or still pending, and the host never heard it approved: give the money back.
    m_logger->info("Оплата %1 не завершена: отправляется ее полная отмена", entry.paymentId);
    facts.reversalSent = true;
    learn(within(Interface::Reversal, body), "the reversal");
    return entry;
}

} // namespace oxlenpay
