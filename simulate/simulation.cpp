#include "simulation.h"

#include "config.h"
#include "paymentprocessingrequest.h"
#include "settings.h"
#include "singleton.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include <cstdio>

namespace simulate {

namespace {

using oxlenpay::JournalEntry;
using oxlenpay::WaitClock;
using Settlement = oxlenpay::Interface::Settlement;
using State = JournalEntry::State;

/// A crash of the till at an exchange: unwinds the operation as SIGKILL would end it.
struct Crash {};

WaitClock::TimePoint virtualNow;
const WaitClock::TimePoint Start = WaitClock::TimePoint() + std::chrono::hours(1);
const QDateTime WallStart = QDateTime(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC);

constexpr int FrequencyMs = 1000;
constexpr int PayDurationMs = 6000;
constexpr int TimeoutMs = 3000;

const char* settlementName(Settlement settlement)
{
    switch (settlement) {
    case Settlement::Approved:
        return "approved";
    case Settlement::Declined:
        return "declined";
    case Settlement::Reversed:
        return "reversed";
    case Settlement::Unknown:
        return "unknown";
    case Settlement::ReversalOwed:
        return "reversal owed";
    }
    return "?";
}

} // namespace

class Simulation::Till : public oxlenpay::Interface {
public:
    using Interface::reverseUnknown;
};

Simulation::Simulation(quint32 seed, const QString& directory, bool trace)
    : m_seed(seed), m_directory(directory), m_trace(trace), m_random(seed)
{
    virtualNow = Start;
    WaitClock::now = [] { return virtualNow; };
    WaitClock::waitUntil = [](std::unique_lock<std::mutex>&, std::condition_variable&,
                              WaitClock::TimePoint deadline) {
        virtualNow = std::max(virtualNow, deadline);
    };
    oxlenpay::Journal::wallClock = [] {
        return WallStart.addMSecs(
            std::chrono::duration_cast<std::chrono::milliseconds>(virtualNow - Start).count());
    };
    oxlenpay::Journal::failingWrites = 0;
    MockFactory<RestClient>::creator = [this] {
        return QSharedPointer<RestClient>(new SimulatedRestClient(
            [this](const QUrl& url, const QJsonObject& body, qint64 timeoutMs) {
                return exchange(url, body, timeoutMs);
            }));
    };
    for (const QString& name : QDir(directory).entryList({"journal.sqlite*"}, QDir::Files)) {
        QFile::remove(directory + '/' + name);
    }
    QDir(directory + "/journal.sqlite.owners").removeRecursively();
    m_reverseUnknown = roll(4) == 0 ? 0 : 1;
}

Simulation::~Simulation()
{
    m_till.reset();
    m_other.reset();
    m_reader.close();
    oxlenpay::Journal::failingWrites = 0;
    MockFactory<RestClient>::creator = std::bind(&MockFactory<RestClient>::defaultCreator);
    WaitClock::reset();
}

qint64 Simulation::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(virtualNow - Start).count();
}

void Simulation::trace(const QString& line) const
{
    if (m_trace) {
        std::printf("%8lld ms  %s\n", static_cast<long long>(elapsedMs()),
                    line.toUtf8().constData());
    }
}

void Simulation::violate(const QString& what)
{
    if (!m_violations.contains(what)) {
        trace("VIOLATION " + what);
        m_violations << what;
    }
}

void Simulation::startTill()
{
    m_till = std::make_unique<Till>();
    m_till->init();
    m_till->reverseUnknown = m_reverseUnknown;
}

void Simulation::crashTill()
{
    trace("the till crashes; a new one starts on the same journal");
    m_till.reset();
    startTill();
}

Exchange Simulation::exchange(const QUrl& url, const QJsonObject& body, qint64 timeoutMs)
{
    const QString path = url.path();
    const bool till = m_actor == Actor::Till;
    if (till && m_inSale && !m_ownRequestSent) {
        if (!path.endsWith("/payment")) {
            violate("a sale waited for another exchange before its own request: " + path);
        }
        m_ownRequestSent = true;
    }
    if (till && path.endsWith("/payment")) {
        m_transactions << body.value("transaction_id").toString();
    }
    // Now and then the other till's recovery runs while this exchange is under way.
    if (m_faults && till && !m_otherBusy && roll(100) < 6) {
        m_otherBusy = true;
        m_actor = Actor::OtherTill;
        recover(*m_other, "the other till");
        m_actor = Actor::Till;
        m_otherBusy = false;
    }
    if (m_faults && till && roll(100) < 3) {
        oxlenpay::Journal::failingWrites = 1 + roll(4);
        trace(QString("the disk fails the next %1 journal writes")
                  .arg(oxlenpay::Journal::failingWrites.load()));
    }
    const bool crash = m_faults && till && roll(100) < 3;
    const bool crashAfter = crash && roll(2) == 0;
    if (crash && !crashAfter) {
        trace("crash before " + path);
        throw Crash();
    }
    Exchange result = faulty(path, body, timeoutMs);
    if (crashAfter) {
        trace("crash after " + path);
        throw Crash();
    }
    return result;
}

Exchange Simulation::faulty(const QString& path, const QJsonObject& body, qint64 timeoutMs)
{
    enum Fault { None, Refused, ProviderError, Failed, Lost, Slow, Gateway, Garbled };
    static const char* const names[] = {"none", "refused", "provider error", "failed",
                                        "lost", "slow",    "gateway 502",    "garbled"};
    Fault fault = None;
    if (m_faults && roll(100) < 18) {
        fault = Fault(1 + roll(7));
    }
    Exchange exchange;
    if (fault == Refused) {
        exchange.error = RestClient::ConnectFailed;
        exchange.errorText = tr::Tr("restClientConnectFailed", "Нет связи с сервером");
        trace(QString("%1 %2: refused").arg(path, body.value("payment_id").toString()));
        return exchange;
    }
    if (fault == ProviderError) {
        exchange.answer = QJsonDocument(
            QJsonObject{{"error_code", 2001}, {"error_message", "Недостаточно средств"}});
        trace(QString("%1 %2: provider error").arg(path, body.value("payment_id").toString()));
        return exchange;
    }
    const ModelProvider::Reply reply = m_provider.handle(path, body, fault == Failed);
    trace(QString("%1 %2 -> %3 %4 (%5)")
              .arg(path, body.value("payment_id").toString(),
                   reply.answer.value("payment_id").toString(),
                   reply.answer.value("payment_status").toString(), names[fault]));
    switch (fault) {
    case Lost:
        exchange.error = RestClient::ConnectionLost;
        exchange.uploadedButAborted = true;
        exchange.errorText = tr::Tr("restClientConnectionLost", "Соединение прервано");
        break;
    case Slow:
        virtualNow += std::chrono::milliseconds(timeoutMs);
        exchange.error = RestClient::Timeout;
        exchange.uploadedButAborted = true;
        exchange.errorText = tr::Tr("restClientTimeout", "Превышено время ожидания");
        break;
    case Gateway:
        exchange.error = RestClient::HttpStatus;
        exchange.uploadedButAborted = true;
        exchange.errorText = tr::Tr("restClientHttpStatus", "Сервер ответил ошибкой HTTP 502");
        break;
    case Garbled:
        exchange.answer = QJsonDocument(QJsonArray{reply.answer});
        break;
    default:
        exchange.answer = QJsonDocument(reply.answer);
        break;
    }
    return exchange;
}

void Simulation::recover(Till& till, const char* who)
{
    const qint64 began = elapsedMs();
    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    if (!till.recoverJournal(&recovered, &error)) {
        trace(QString("%1 cannot recover: %2").arg(who, error));
        return;
    }
    const qint64 took = elapsedMs() - began;
    trace(QString("%1 recovered %2 rows in %3 ms").arg(who).arg(recovered.size()).arg(took));
    if (took > oxlenpay::settings::RecoveryLimitMs) {
        violate(QString("%1's recovery took %2 ms").arg(who).arg(took));
    }
}

void Simulation::sale()
{
    ModelProvider::Customer customer;
    const int does = roll(10);
    customer.does = does < 6   ? ModelProvider::Customer::Does::Confirm
                    : does < 8 ? ModelProvider::Customer::Does::Decline
                               : ModelProvider::Customer::Does::Nothing;
    customer.atPoll = roll(5);
    m_provider.setNextCustomer(customer);
    PaymentProcessingRequest request;
    request.type = PaymentProcessingRequest::Sale;
    request.sum = 100 + roll(5000);
    request.token = "token";
    request.currencyCode = 398;
    m_inSale = true;
    m_ownRequestSent = false;
    const auto result = m_till->payment(request);
    m_inSale = false;
    trace(QString("sale of %1: %2, payment %3")
              .arg(request.sum)
              .arg(settlementName(result.settlement), result.getRrn()));
    for (const QString& transaction : m_transactions) {
        const ModelProvider::Payment* payment = m_provider.byTransaction(transaction);
        if (result.success) {
            if (!payment || payment->id != result.getRrn() || payment->status != "SUCCESS") {
                violate("a sale was approved that the provider does not hold: " + transaction);
            }
        } else if (result.settlement == Settlement::Declined && payment && payment->charged) {
            violate("a sale was declined although the provider charged it: " + payment->id);
        }
    }
    if (result.success) {
        m_approved.append({result.getRrn(), request.sum, 0, false});
    }
}

void Simulation::partialRefund()
{
    QVector<int> candidates;
    for (int i = 0; i < m_approved.size(); ++i) {
        if (!m_approved[i].cancelAsked && m_approved[i].amount - m_approved[i].refundsAsked > 1) {
            candidates << i;
        }
    }
    if (candidates.isEmpty()) {
        return;
    }
    Sold& sold = m_approved[candidates[roll(candidates.size())]];
    PaymentProcessingRequest request;
    request.type = PaymentProcessingRequest::Refund;
    request.rrn = sold.paymentId;
    request.sum = 1 + roll(int(sold.amount - sold.refundsAsked - 1));
    request.originalSum = sold.amount;
    const int before = m_provider.byId(sold.paymentId)->partials;
    // Done, or perhaps done (the till may die on the way): never asked again unless declined.
    sold.refundsAsked += request.sum;
    const auto result = m_till->partialReversal(request);
    trace(QString("partial refund of %1 from %2: %3")
              .arg(request.sum)
              .arg(sold.paymentId, settlementName(result.settlement)));
    if (result.settlement == Settlement::Declined) {
        if (m_provider.byId(sold.paymentId)->partials != before) {
            violate("a partial refund was declined although the provider made it: " +
                    sold.paymentId);
        }
        sold.refundsAsked -= request.sum; // the cashier may ask again
    }
}

void Simulation::cancel()
{
    QVector<int> candidates;
    for (int i = 0; i < m_approved.size(); ++i) {
        if (!m_approved[i].cancelAsked && m_approved[i].refundsAsked == 0) {
            candidates << i;
        }
    }
    if (candidates.isEmpty()) {
        return;
    }
    Sold& sold = m_approved[candidates[roll(candidates.size())]];
    m_cancelAsked.insert(sold.paymentId);
    PaymentProcessingRequest request;
    request.type = PaymentProcessingRequest::Sale;
    request.rrn = sold.paymentId;
    request.sum = int(sold.amount);
    request.originalSum = int(sold.amount);
    const int before = m_provider.byId(sold.paymentId)->reversals;
    sold.cancelAsked = true;
    const auto result = m_till->reversal(request);
    trace(QString("cancel of %1: %2").arg(sold.paymentId, settlementName(result.settlement)));
    if (result.settlement == Settlement::Declined) {
        if (m_provider.byId(sold.paymentId)->reversals != before) {
            violate("a cancel was declined although the provider reversed the payment: " +
                    sold.paymentId);
        }
        sold.cancelAsked = false;
    }
}

void Simulation::fiscal()
{
    if (m_approved.isEmpty()) {
        return;
    }
    const QString id = m_approved[roll(m_approved.size())].paymentId;
    const bool sent = m_till->sendOfdData(id, "https://ofd.example/r?i=" + id);
    trace(QString("fiscal link of %1: %2").arg(id, sent ? "confirmed" : "not confirmed"));
}

void Simulation::operate()
{
    m_transactions.clear();
    const int dice = roll(100);
    try {
        if (dice < 50) {
            sale();
        } else if (dice < 68) {
            partialRefund();
        } else if (dice < 80) {
            cancel();
        } else if (dice < 90) {
            fiscal();
        } else {
            recover(*m_till, "the till's recover");
        }
    } catch (const Crash&) {
        m_inSale = false;
        m_actor = Actor::Till;
        m_otherBusy = false;
        crashTill();
    }
    oxlenpay::Journal::failingWrites = 0;
    // The shop goes on: minutes between customers, now and then a night.
    virtualNow += std::chrono::milliseconds(roll(120000));
    if (roll(100) < 8) {
        virtualNow += std::chrono::hours(30);
    }
}

void Simulation::checkRows(bool finalCheck)
{
    if (!m_reader.isOpen() &&
        !m_reader.open(m_directory + "/journal.sqlite", oxlenpay::Journal::OpenMode::ReadOnly)) {
        if (finalCheck) {
            violate("no journal where the configuration puts it: " + m_reader.errorString());
        }
        return; // nothing written yet
    }
    QVector<JournalEntry> rows;
    if (!m_reader.entries(&rows, false)) {
        violate("the journal cannot be read: " + m_reader.errorString());
        return;
    }
    QSet<QString> present;
    QSet<QString> unsettled;
    for (const JournalEntry& row : rows) {
        present.insert(row.id);
        if (!row.isSettled()) {
            unsettled.insert(row.id);
        }
        if (finalCheck && (row.state == State::Unknown || row.isOpen())) {
            violate(QString("recovery left the %1 row %2 %3 with a provider that answers")
                        .arg(JournalEntry::operationName(row.operation), row.id,
                             JournalEntry::stateName(row.state)));
        }
    }
    for (const QString& id : m_unsettledRows) {
        if (!present.contains(id)) {
            violate("a row that was not settled was purged: " + id);
        }
    }
    m_unsettledRows = unsettled;

    if (!finalCheck) {
        return;
    }
    QHash<QString, JournalEntry> sales;
    for (const JournalEntry& row : rows) {
        if (row.operation == JournalEntry::Operation::Sale) {
            sales.insert(row.id, row);
        }
    }
    QSet<QString> approved;
    for (const Sold& sold : m_approved) {
        approved.insert(sold.paymentId);
    }
    for (const ModelProvider::Payment& payment : m_provider.payments()) {
        if (!ModelProvider::holdsMoney(payment) || approved.contains(payment.id)) {
            continue;
        }
        const auto row = sales.constFind(payment.transactionId);
        if (row == sales.constEnd()) {
            violate("the provider holds money of a sale the journal has no row for: " + payment.id);
        } else if (row->isSettled() && row->state != State::Done) {
            violate(QString("the provider holds money of a sale the journal calls %1: %2")
                        .arg(JournalEntry::stateName(row->state), payment.id));
        }
    }
}

void Simulation::checkLedger()
{
    QSet<QString> approved;
    for (const Sold& sold : m_approved) {
        approved.insert(sold.paymentId);
    }
    for (const ModelProvider::Payment& payment : m_provider.payments()) {
        if (payment.reversals > 1) {
            violate(
                QString("payment %1 was reversed %2 times").arg(payment.id).arg(payment.reversals));
        }
        if (payment.refunded > payment.amount) {
            violate(QString("payment %1 was refunded %2 of %3")
                        .arg(payment.id)
                        .arg(payment.refunded)
                        .arg(payment.amount));
        }
        if (approved.contains(payment.id) && payment.reversals > 0 &&
            !m_cancelAsked.contains(payment.id)) {
            violate("a sale the host was told approved was reversed: " + payment.id);
        }
    }
}

QStringList Simulation::run()
{
    trace(QString("seed %1, reverseUnknown %2").arg(m_seed).arg(m_reverseUnknown));
    startTill();
    m_other = std::make_unique<Till>();
    m_other->init();
    const int operations = 6 + roll(10);
    for (int i = 0; i < operations; ++i) {
        operate();
        checkRows(false);
        checkLedger();
    }
    // The next morning: a till starts, no fault anywhere, and recovery finishes the work.
    m_faults = false;
    oxlenpay::Journal::failingWrites = 0;
    m_other.reset();
    crashTill();
    recover(*m_till, "the final recover");
    virtualNow += std::chrono::minutes(2);
    recover(*m_till, "the final recover");
    checkRows(true);
    checkLedger();
    return m_violations;
}

} // namespace simulate
