#include "operationjournal.h"

#include "messages.h"
#include "processidentity.h"
#include "providerreply.h"
#include "waitclock.h"

#include <log4qt/logger.h>

#include <algorithm>

namespace oxlenpay {

namespace {

using State = JournalEntry::State;

// How long a closing write goes on trying while another process holds the write lock; any
// other failure counts at once.
constexpr std::chrono::seconds BusyFinishLimit(30);

} // namespace

void OperationJournal::configure(const JournalPlace& place, int keepDays)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (place.candidates() != m_place.candidates() || place.isOff() != m_place.isOff()) {
        m_journal.close(); // opened again at the next money operation
        QString unused;
        m_path = place.inUse(&unused);
    }
    m_place = place;
    m_keepDays = keepDays;
}

bool OperationJournal::isEnabled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_place.isOff();
}

bool OperationJournal::exists() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_journal.isOpen() || !m_place.existing().isEmpty();
}

QStringList OperationJournal::otherJournals() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QStringList others = m_place.existing();
    others.removeAll(m_path);
    return others;
}

int OperationJournal::keepDays() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keepDays;
}

QString OperationJournal::path() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

bool OperationJournal::ready(RequestResult* refusal, bool create)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_journal.isOpen()) {
        lock.unlock();
        keepInPlace(); // a vanished file is made anew before the operation's first write
        return true;
    }
    QString problem;
    const QString path = m_place.resolve(create, &problem);
    if (path.isEmpty()) {
        *refusal = unavailable(problem.isEmpty() ? "no payment journal exists yet" : problem);
        return false;
    }
    m_path = path;
    if (!m_journal.open(m_path, create ? Journal::OpenMode::CreateIfMissing
                                       : Journal::OpenMode::ExistingOnly)) {
        *refusal = unavailable(m_journal.errorString());
        return false;
    }
    m_carriedOver = 0;
    const int removed = m_journal.removeSettledBefore(Journal::wallClock().addDays(-m_keepDays));
    if (removed > 0) {
        m_logger->info("%1", QString("Из журнала платежей удалены закрытые записи старше %1 "
                                     "дн.: %2")
                                 .arg(m_keepDays)
                                 .arg(removed));
    }
    return true;
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
    const ProcessIdentity process = ProcessIdentity::current();
    row.ownerPid = process.pid;
    row.ownerStart = process.startTicks;
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
    row->state = State::Sending;
    if (row->operation == JournalEntry::Operation::Reversal) {
        takeRemainingAmount(row);
    }
    if (!m_journal.record(row)) {
        *refusal = unavailable(m_journal.errorString());
        return false;
    }
    noteCarriedOver();
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
    row->state = State::Waiting;
    if (!row->firstAnswer.isValid()) {
        row->firstAnswer = Journal::wallClock();
    }
    save(row);
}

void OperationJournal::takeRemainingAmount(JournalEntry* row)
{
    // A whole cancel returns what is left of the sale: the host's sum may be the sale's,
    // what it thinks is left, or nothing at all.
    Journal::Filter filter;
    filter.paymentId = row->paymentId;
    QVector<JournalEntry> rows;
    if (!row->paymentId.isEmpty() && m_journal.entries(&rows, filter)) {
        const auto sale = std::find_if(rows.begin(), rows.end(), [](const JournalEntry& known) {
            return known.operation == JournalEntry::Operation::Sale && known.amountKnown;
        });
        if (sale != rows.end()) {
            qint64 refunded = 0;
            for (const JournalEntry& known : rows) {
                if (known.operation == JournalEntry::Operation::PartialReversal &&
                    known.state == State::Done && known.amountKnown) {
                    refunded += known.amount;
                }
            }
            row->amount = std::max<qint64>(0, sale->amount - refunded);
            row->amountKnown = true;
            return;
        }
    }
    row->amountKnown = row->amount > 0;
    row->amount = std::max<qint64>(0, row->amount);
}

bool OperationJournal::finish(JournalEntry* row, const RequestResult& result)
{
    if (!result.getRrn().isEmpty()) {
        row->paymentId = result.getRrn();
    }
    if (!result.getPaymentStatus().isEmpty()) {
        row->providerStatus = result.getPaymentStatus();
    }
    const QDateTime now = Journal::wallClock();
    if (!row->firstAnswer.isValid() && ProviderReply::of(result).answered()) {
        row->firstAnswer = now;
    }
    row->ended = now; // the host has its answer as this returns
    row->messageKey = messages::keyOf(result);
    if (row->messageKey == QLatin1String("undefined")) {
        row->providerText = messages::capped(result.message.ru()); // the provider's own words
    }
    if (!isEnabled()) {
        return true;
    }
    const auto start = WaitClock::now();
    bool written = write(row);
    while (!written && m_journal.lastErrorWasBusy() && WaitClock::now() - start < BusyFinishLimit) {
        written = write(row); // a held lock is not a broken disk: each try waits its busy time
    }
    if (written) {
        noteCarriedOver();
    } else {
        m_logger->error(QString("Журнал платежей %1: запись %2 не сохранена (%3): %4")
                            .arg(path(), row->id, JournalEntry::stateName(row->state),
                                 m_journal.errorString()));
    }
    // A state not written is written at the next chance: left as it is, the row would be
    // settled by a guess. A later close of the same row (a close-out) replaces it.
    std::lock_guard<std::mutex> lock(m_unrecordedMutex);
    if (written) {
        m_unrecorded.remove(row->id);
    } else {
        m_unrecorded.insert(row->id, *row);
    }
    return written;
}

void OperationJournal::dropUnrecorded(const QString& id)
{
    std::lock_guard<std::mutex> lock(m_unrecordedMutex);
    m_unrecorded.remove(id);
}

void OperationJournal::retryUnrecorded()
{
    std::lock_guard<std::mutex> lock(m_unrecordedMutex);
    for (auto it = m_unrecorded.begin(); it != m_unrecorded.end();) {
        if (write(&it.value())) {
            m_logger->info("%1", QString("Журнал платежей %1: запись %2 сохранена (%3)")
                                     .arg(path(), it.key(), JournalEntry::stateName(it->state)));
            it = m_unrecorded.erase(it);
        } else {
            ++it;
        }
    }
}

bool OperationJournal::save(JournalEntry* row)
{
    if (!isEnabled()) {
        return true;
    }
    if (!write(row)) {
        m_logger->error(QString("Журнал платежей %1: запись %2 не сохранена (%3): %4")
                            .arg(path(), row->id, JournalEntry::stateName(row->state),
                                 m_journal.errorString()));
        return false;
    }
    noteCarriedOver();
    return true;
}

bool OperationJournal::write(JournalEntry* row)
{
    // An operation under way keeps its row; one that ended unsettled gives it up, so the
    // recovery of any till (this one's waits, the timer's `recover`) can take it.
    const bool release = !row->isOpen() && !row->isSettled() && !row->owner.isEmpty();
    return release ? m_journal.recordAndRelease(row) : m_journal.record(row);
}

void OperationJournal::keepInPlace()
{
    if (!isEnabled()) {
        return;
    }
    if (!m_journal.keepInPlace()) {
        m_logger->error(QString("Журнал платежей %1 пропал и не создан заново: %2")
                            .arg(path(), m_journal.errorString()));
    }
    noteCarriedOver();
    retryUnrecorded();
}

bool OperationJournal::unsettledEntries(QVector<JournalEntry>* entries)
{
    keepInPlace(); // never work from a copy that left its place
    if (!m_journal.entries(entries, true)) {
        m_logger->error(
            QString("Журнал платежей %1 не прочитан: %2").arg(path(), m_journal.errorString()));
        return false;
    }
    std::reverse(entries->begin(), entries->end());
    return true;
}

bool OperationJournal::claim(JournalEntry* row, JournalEntry::State state)
{
    const bool claimed = m_journal.claim(row, state);
    noteCarriedOver();
    return claimed;
}

bool OperationJournal::isMine(const JournalEntry& row) const
{
    return !row.owner.isEmpty() && row.owner == m_journal.owner();
}

bool OperationJournal::isWriterAlive(const JournalEntry& row) const
{
    if (!row.owner.isEmpty() && m_journal.isOwnerAlive(row.owner)) {
        return true;
    }
    // An open row's process decides too: a till whose owner file went with a vanished
    // folder, or a version-1 till, which had none, still works on it while it runs.
    return row.isOpen() && ProcessIdentity::isAlive(row.ownerPid, row.ownerStart);
}

void OperationJournal::setBusyTimeout(int milliseconds)
{
    m_journal.setBusyTimeout(milliseconds);
}

void OperationJournal::noteCarriedOver()
{
    const int carried = m_journal.carriedOver();
    if (carried != m_carriedOver) {
        m_logger->warn(QString("Файл журнала платежей %1 пропал и создан заново; перенесено "
                               "незакрытых записей: %2")
                           .arg(path())
                           .arg(carried - m_carriedOver)
                           .toUtf8()
                           .constData());
        m_carriedOver = carried;
    }
}

OperationJournal::RequestResult OperationJournal::unavailable(const QString& reason) const
{
    m_logger->error(QString("Журнал платежей %1 недоступен: %2").arg(m_path, reason));
    // The path and the reason are in the log line above; the cashier reads a short text.
    RequestResult refusal;
    messages::set(&refusal, "journalUnavailable");
    return refusal;
}

} // namespace oxlenpay
