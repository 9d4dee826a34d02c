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
                       {"currency", currency},
                       {"answer_lost", answerLost},
                       {"polls", polls},
                       {"repeats", repeats},
                       {"fiscal_url", fiscalUrl},
                       {"created", created.toString(Qt::ISODateWithMs)}};
}

Payment& Ledger::charge(const QString& transactionId, qint64 amount, const Scenario& scenario,
                        bool* created)
{
    const auto known = m_byTransaction.constFind(transactionId);
    if (known != m_byTransaction.constEnd()) {
        *created = false;
        return m_payments[*known];
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
    m_byId.insert(payment.id, m_payments.size());
    m_byTransaction.insert(transactionId, m_payments.size());
    m_payments.append(payment);
    return m_payments.last();
}

Payment* Ledger::find(const QString& id)
{
    const auto known = m_byId.constFind(id);
    return known == m_byId.constEnd() ? nullptr : &m_payments[*known];
}

void Ledger::clear()
{
    m_payments.clear();
    m_byId.clear();
    m_byTransaction.clear();
}

} // namespace sandbox
