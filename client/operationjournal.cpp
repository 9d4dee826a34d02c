#include "operationjournal.h"

#include "outcomekeys.h"

#include "processidentity.h"

#include <log4qt/logger.h>

namespace oxlenpay {

void OperationJournal::configure(const QString& path, int keepDays)
{
    QMutexLocker lock(&m_mutex);
    if (path != m_path) {
        m_journal.close(); // opened again at the next money operation
    }
    m_path = path;
    m_keepDays = keepDays;
}

bool OperationJournal::isEnabled() const
{
    QMutexLocker lock(&m_mutex);
    return !m_path.isEmpty();
}

QString OperationJournal::path() const
{
    QMutexLocker lock(&m_mutex);
    return m_path;
}

bool OperationJournal::ready(RequestResult* refusal)
{
    QMutexLocker lock(&m_mutex);
    if (m_journal.isOpen()) {
        return true;
    }
    if (!m_journal.open(m_path)) {
        *refusal = unavailable(m_journal.errorString());
        return false;
    }
    const int removed =
        m_journal.removeClosedBefore(QDateTime::currentDateTimeUtc().addDays(-m_keepDays));
    if (removed > 0) {
        m_logger->info(QString("Из журнала платежей удалены закрытые записи старше %1 дн.: %2")
                           .arg(m_keepDays)
                           .arg(removed));
    }
    return true;
}

bool OperationJournal::claimRecovery()
{
    QMutexLocker lock(&m_mutex);
    const bool first = !m_recoveryClaimed;
    m_recoveryClaimed = true;
    return first;
}

JournalEntry OperationJournal::entry(JournalEntry::Operation operation, const QString& id,
                                     qint64 amount, int currency, const QString& paymentId)
{
    JournalEntry row;
    row.operation = operation;
    row.id = id;
    row.amount = amount;
    row.currency = currency;
    row.paymentId = paymentId;
    const ProcessIdentity owner = ProcessIdentity::current();
    row.ownerPid = owner.pid;
    row.ownerStart = owner.startTicks;
    return row;
}

bool OperationJournal::start(JournalEntry* row, RequestResult* refusal)
{
    if (!isEnabled()) {
        return true;
    }
    if (!ready(refusal)) {
        return false;
    }
    row->state = JournalEntry::State::Sending;
    if (!m_journal.record(row)) {
        *refusal = unavailable(m_journal.errorString());
        return false;
    }
    return true;
}

void OperationJournal::answered(JournalEntry* row, const RequestResult& answer)
{
    const QString paymentId = answer.getRrn();
    if (!answer.success || paymentId.isEmpty()) {
        return; // the close that follows writes what there is
    }
    row->paymentId = paymentId;
    row->providerStatus = answer.getPaymentStatus();
    row->state = JournalEntry::State::Waiting;
    save(row);
}

void OperationJournal::finish(JournalEntry* row, const RequestResult& result)
{
    if (!result.getRrn().isEmpty()) {
        row->paymentId = result.getRrn();
    }
    if (!result.getPaymentStatus().isEmpty()) {
        row->providerStatus = result.getPaymentStatus();
    }
    row->messageKey = result.message.key();
    row->state = closedState(result);
    if (row->operation == JournalEntry::Operation::Fiscal &&
        row->state == JournalEntry::State::Unknown) {
        // A receipt link moves no money: unconfirmed, the host sends it again.
        row->state = JournalEntry::State::Declined;
    }
    save(row);
}

void OperationJournal::save(JournalEntry* row)
{
    if (!isEnabled()) {
        return;
    }
    if (!m_journal.record(row)) {
        // The request has gone: the operation cannot be taken back, only reported.
        m_logger->error(QString("Журнал платежей %1: запись %2 не сохранена (%3): %4")
                            .arg(path(), row->id, JournalEntry::stateName(row->state),
                                 m_journal.errorString()));
    }
}

JournalEntry::State OperationJournal::closedState(const RequestResult& result)
{
    const QString key = result.message.key();
    if (result.success) {
        return JournalEntry::State::Done;
    }
    if (key == "paymentReversed") {
        return JournalEntry::State::Reversed;
    }
    return isUnknownOutcomeKey(key) ? JournalEntry::State::Unknown : JournalEntry::State::Declined;
}

bool OperationJournal::openEntries(QVector<JournalEntry>* entries)
{
    if (m_journal.entries(entries, true)) {
        return true;
    }
    m_logger->error(
        QString("Журнал платежей %1 не прочитан: %2").arg(path(), m_journal.errorString()));
    return false;
}

OperationJournal::RequestResult OperationJournal::unavailable(const QString& reason) const
{
    m_logger->error(QString("Журнал платежей %1 недоступен: %2").arg(m_path, reason));
    RequestResult refusal;
    refusal.message =
        tr::Tr("journalUnavailable", "Журнал платежей %1 недоступен (%2): операция не отправлена, "
                                     "чтобы не потерять ее след")
            .arg(m_path)
            .arg(reason);
    return refusal;
}

} // namespace oxlenpay
