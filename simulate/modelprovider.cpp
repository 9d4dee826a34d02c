#include "modelprovider.h"

#include <limits>

namespace simulate {

namespace {

bool isFinal(const QString& status)
{
    return status != "PENDING";
}

} // namespace

QJsonObject ModelProvider::answer(const Payment& payment, const QString& status)
{
    return {{"error_code", 0},
            {"payment_id", payment.id},
            {"payment_status", status},
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
    const auto found = m_byTransaction.constFind(transactionId);
    return found == m_byTransaction.constEnd() ? nullptr : &m_payments[*found];
}

qint64 ModelProvider::held(const Payment& payment)
{
    return payment.charged ? payment.amount - payment.refunded : 0;
}

void ModelProvider::change(Payment* payment, const QString& status, int lagPolls)
{
    payment->status = status;
    payment->lagPolls = lagPolls;
    payment->lagUntilMs = m_nowMs + StatusLagLimitMs;
    if (lagPolls == 0) {
        payment->shown = status;
    }
    if (status == "SUCCESS") {
        payment->charged = true;
    }
}

void ModelProvider::advance(qint64 nowMs)
{
    m_nowMs = qMax(m_nowMs, nowMs);
    for (Payment& payment : m_payments) {
        const Customer& customer = payment.customer;
        if (payment.status == "PENDING" && customer.does != Customer::Does::Nothing &&
            customer.atMs <= nowMs) {
            change(&payment, customer.does == Customer::Does::Confirm ? "SUCCESS" : "FAILED",
                   payment.lagPolls);
        }
    }
}

qint64 ModelProvider::nextCustomerMs() const
{
    qint64 next = std::numeric_limits<qint64>::max();
    for (const Payment& payment : m_payments) {
        if (payment.status == "PENDING" && payment.customer.does != Customer::Does::Nothing) {
            next = qMin(next, payment.customer.atMs);
        }
    }
    return next;
}

QString ModelProvider::addPending(const QString& transactionId, qint64 amount,
                                  const Customer& customer)
{
    Payment payment;
    payment.id = QString("%1").arg(100000000001LL + m_payments.size());
    payment.transactionId = transactionId;
    payment.amount = amount;
    payment.status = payment.shown = "PENDING";
    payment.customer = customer;
    m_index.insert(payment.id, m_payments.size());
    m_byTransaction.insert(transactionId, m_payments.size());
    m_payments.append(payment);
    return payment.id;
}

ModelProvider::Reply ModelProvider::handle(const Request& request)
{
    const QString& path = request.path;
    const QJsonObject& body = request.body;
    advance(request.nowMs);
    if (qAbs(request.authorizationMs - request.wallMs) > SignatureSkewMs) {
        return {refusal(1002, "Неверная подпись запроса: время запроса вне допустимого окна"),
                false};
    }
    if (path.endsWith("/payment")) {
        const QString transactionId = body.value("transaction_id").toString();
        if (Payment* known =
                byTransaction(transactionId) ? find(byTransaction(transactionId)->id) : nullptr) {
            return {answer(*known, known->shown), false}; // the same transaction again
        }
        m_nextCustomer.atMs += request.nowMs;
        const QString id =
            addPending(transactionId, qint64(body.value("amount").toDouble()), m_nextCustomer);
        m_nextCustomer = Customer();
        Payment* payment = find(id);
        if (request.decline) {
            change(payment, "FAILED", 0);
        } else {
            advance(request.nowMs);
        }
        payment->shown = payment->status; // the first answer tells the truth
        payment->lagPolls = 0;
        return {answer(*payment, payment->status), true};
    }
    Payment* payment = find(body.value("payment_id").toString());
    if (!payment) {
        return {refusal(1009, "Платеж не найден"), false};
    }
    if (path.endsWith("/payment/status")) {
        if (payment->lagPolls > 0 && (--payment->lagPolls == 0 || m_nowMs >= payment->lagUntilMs)) {
            payment->lagPolls = 0;
            payment->shown = payment->status;
        }
        return {answer(*payment, payment->shown), true};
    }
    if (request.decline) {
        QJsonObject declined = answer(*payment, "FAILED");
        declined.insert("error_message", "Операция отклонена");
        return {declined, false};
    }
    if (path.endsWith("/payment/reversal")) {
        if (payment->status == "FAILED") {
            return {refusal(1012, "Платеж отклонен, отменять нечего"), false};
        }
        if (payment->status == "REVERSED") {
            return {refusal(1014, "Платеж уже отменен"), false};
        }
        const qint64 rest = payment->charged ? payment->amount - payment->refunded : 0;
        payment->refunded += rest;
        payment->actions.append({true, rest, request.operationId});
        change(payment, "REVERSED", request.lagPolls);
        return {answer(*payment, "REVERSED"), true};
    }
    if (path.endsWith("/partial/reversal")) {
        const qint64 amount = qint64(body.value("amount").toDouble());
        if (payment->status != "SUCCESS" && payment->status != "PARTIAL_CANCELLED") {
            return {refusal(1013, "Возврат невозможен"), false};
        }
        if (amount <= 0 || amount > payment->amount - payment->refunded) {
            return {refusal(1015, "Сумма возврата больше остатка"), false};
        }
        payment->refunded += amount;
        payment->actions.append({false, amount, request.operationId});
        change(payment, "PARTIAL_CANCELLED", request.lagPolls);
        return {answer(*payment, "PARTIAL_CANCELLED"), true};
    }
    if (path.endsWith("/payment/fiscal")) {
        if (!isFinal(payment->status) || payment->status == "FAILED") {
            return {refusal(1016, "Платеж не завершен"), false};
        }
        payment->fiscalUrl = body.value("fiscal_url").toString();
        return {answer(*payment, "SUCCESS"), true};
    }
    return {refusal(404, "no such operation"), false};
}

} // namespace simulate
