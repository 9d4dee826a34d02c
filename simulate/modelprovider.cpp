#include "modelprovider.h"

namespace simulate {

QJsonObject ModelProvider::answer(const Payment& payment)
{
    return {{"error_code", 0},
            {"payment_id", payment.id},
            {"payment_status", payment.status},
            {"client_phone_number", "+77010000001"}};
}

QJsonObject ModelProvider::refusal(int code, const QString& text)
{
    return {{"error_code", code}, {"error_message", text}};
}

ModelProvider::Payment* ModelProvider::find(const QString& id)
{
    const auto found = m_index.constFind(id);
    return found == m_index.constEnd() ? nullptr : &m_payments[*found];
}

const ModelProvider::Payment* ModelProvider::byId(const QString& id) const
{
    const auto found = m_index.constFind(id);
    return found == m_index.constEnd() ? nullptr : &m_payments[*found];
}

const ModelProvider::Payment* ModelProvider::byTransaction(const QString& transactionId) const
{
    for (const Payment& payment : m_payments) {
        if (payment.transactionId == transactionId) {
            return &payment;
        }
    }
    return nullptr;
}

bool ModelProvider::holdsMoney(const Payment& payment)
{
    return payment.charged && payment.status != "REVERSED" && payment.refunded < payment.amount;
}

ModelProvider::Reply ModelProvider::handle(const QString& path, const QJsonObject& body,
                                           bool failed)
{
    if (path.endsWith("/payment")) {
        Payment payment;
        payment.id = QString("pay-%1").arg(m_payments.size() + 1);
        payment.transactionId = body.value("transaction_id").toString();
        payment.amount = qint64(body.value("amount").toDouble());
        payment.customer = m_nextCustomer;
        payment.status = "PENDING";
        if (failed) {
            payment.status = "FAILED";
        } else if (payment.customer.atPoll == 0 &&
                   payment.customer.does != Customer::Does::Nothing) {
            payment.status =
                payment.customer.does == Customer::Does::Confirm ? "SUCCESS" : "FAILED";
        }
        payment.charged = payment.status == "SUCCESS";
        m_index.insert(payment.id, m_payments.size());
        m_payments.append(payment);
        return {answer(payment), true};
    }
    Payment* payment = find(body.value("payment_id").toString());
    if (!payment) {
        return {refusal(1009, "Платеж не найден"), false};
    }
    if (path.endsWith("/payment/status")) {
        ++payment->polls;
        if (payment->status == "PENDING" && payment->customer.does != Customer::Does::Nothing &&
            payment->polls >= payment->customer.atPoll) {
            payment->status =
                payment->customer.does == Customer::Does::Confirm ? "SUCCESS" : "FAILED";
            payment->charged = payment->status == "SUCCESS";
        }
        if (failed && payment->status == "PENDING") {
            payment->status = "FAILED";
        }
        return {answer(*payment), true};
    }
    if (failed) {
        QJsonObject declined = answer(*payment);
        declined.insert("payment_status", "FAILED");
        declined.insert("error_message", "Операция отклонена");
        return {declined, false};
    }
    if (path.endsWith("/payment/reversal")) {
        if (payment->status == "FAILED") {
            return {refusal(1012, "Платеж отклонен, отменять нечего"), false};
        }
        ++payment->reversals; // a second one is carried out too: the invariants count them
        payment->status = "REVERSED";
        return {answer(*payment), true};
    }
    if (path.endsWith("/partial/reversal")) {
        if (payment->status != "SUCCESS" && payment->status != "PARTIAL_CANCELLED") {
            return {refusal(1013, "Возврат невозможен"), false};
        }
        ++payment->partials;
        payment->refunded += qint64(body.value("amount").toDouble());
        QJsonObject done = answer(*payment);
        done.insert("payment_status", "PARTIAL_CANCELLED");
        return {done, true};
    }
    if (path.endsWith("/payment/fiscal")) {
        payment->fiscalUrl = body.value("fiscal_url").toString();
        QJsonObject done = answer(*payment);
        done.insert("payment_status", "SUCCESS");
        return {done, true};
    }
    return {refusal(404, "no such operation"), false};
}

} // namespace simulate
