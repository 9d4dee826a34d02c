#include "ledger.h"

namespace sandbox {

QJsonObject Payment::toJson() const
{
    return QJsonObject{{"payment_id", id},
                       {"transaction_id", transactionId},
                       {"amount", amount},
                       {"refunded", refunded},
                       {"rest", rest()},
                       {"payment_status", status},
                       {"client_phone_number", phone},
                       {"scenario", scenarioName(scenario)},
                       {"charged", charged},
                       {"polls", polls},
                       {"repeats", repeats},
                       {"fiscal_url", fiscalUrl},
                       {"created", created.toString(Qt::ISODateWithMs)}};
}

Payment& Ledger::charge(const QString& transactionId, qint64 amount, const Scenario& scenario,
                        bool* created)
{
    for (Payment& payment : m_payments) {
        if (payment.transactionId == transactionId) {
            *created = false;
            return payment;
        }
    }
    *created = true;
    Payment payment;
    payment.id = QString::number(m_nextId++);
    payment.transactionId = transactionId;
    payment.amount = amount;
    payment.status = "PENDING";
    payment.phone = QString("+7701%1").arg(payment.id.right(7));
    payment.scenario = scenario;
    payment.created = QDateTime::currentDateTimeUtc();
    if (scenario.sale == SaleScenario::SettleAtOnce ||
        (scenario.sale == SaleScenario::SettleAfter && scenario.polls == 0)) {
        payment.settle();
    }
    if (scenario.sale == SaleScenario::DeclineAtOnce) {
        payment.status = "FAILED";
    }
    m_payments.append(payment);
    return m_payments.last();
}

Payment* Ledger::find(const QString& id)
{
    for (Payment& payment : m_payments) {
        if (payment.id == id) {
            return &payment;
        }
    }
    return nullptr;
}

void Ledger::clear()
{
    m_payments.clear();
}

} // namespace sandbox
