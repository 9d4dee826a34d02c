#include "tilloutcome.h"

#include "amount.h"
#include "messages.h"
#include "printable.h"

namespace till {

QString receiptLine(const QString& label, const QString& value)
{
    return QString("  %1 %2\n").arg(label.leftJustified(24, ' '), printable(value));
}

namespace {

QString line(const QString& label, const QString& value)
{
    return receiptLine(label, value);
}

QString heading(const QString& operation)
{
    return QString("==== %1 ").arg(operation.toUpper()).leftJustified(40, '=') + '\n';
}

const char* nameOf(ResultState state)
{
    switch (state) {
    case ResultState::Approved:
        return "approved";
    case ResultState::Unknown:
        return "unknown";
    default:
        return "declined";
    }
}

QString whatToDo(const QString& operation)
{
    if (operation == "sale") {
        return "check the payment's status with the provider before handing the goods over or "
               "charging again";
    }
    return "check the payment's status with the provider before repeating the " + operation;
}

} // namespace

Outcome Outcome::ofAnswer(const QString& operation, const PaymentProcessingAnswer& answer)
{
    Outcome outcome;
    outcome.operation = operation;
    outcome.answer = answer;
    outcome.state = answer.isSuccess() ? ResultState::Approved : ResultState::Declined;
    return outcome;
}

Outcome Outcome::ofFiscal(bool delivered, const QString& paymentId, const QString& link)
{
    Outcome outcome;
    outcome.operation = "fiscal";
    outcome.state = delivered ? ResultState::Approved : ResultState::Declined;
    outcome.paymentId = paymentId;
    outcome.link = link;
    return outcome;
}

QString Outcome::stateName() const
{
    return nameOf(state);
}

int Outcome::exitStatus() const
{
    switch (state) {
    case ResultState::Approved:
        return 0;
    case ResultState::Unknown:
        return 4;
    default:
        return 1;
    }
}

QString Outcome::knownPaymentId() const
{
    const QString rrn = answer.getRRN();
    if (!rrn.isEmpty()) {
        return rrn;
    }
    const QString reported = answer.getAdditionalInfo().value("rrn").toString();
    return reported.isEmpty() ? paymentId : reported;
}

QJsonObject Outcome::json() const
{
    if (!customJson.isEmpty()) {
        return customJson;
    }
    if (operation == "fiscal") {
        return {{"operation", operation}, {"success", success()}, {"outcome", nameOf(state)}};
    }
    return {{"operation", operation},
            {"success", answer.isSuccess()},
            {"outcome", nameOf(state)},
            {"status", int(answer.getStatus())},
            {"code", answer.getCode()},
            {"message",
             QJsonObject{{"key", answer.getMessage().key()}, {"text", answer.getMessage().ru()}}},
            {"rrn", answer.getRRN()},
            {"terminalId", answer.getTerminalId()},
            {"paymentMethod", int(answer.getPaymentMethod())},
            {"additionalInfo", QJsonObject::fromVariantMap(answer.getAdditionalInfo())},
            {"transactionId", transactionId},
            {"paymentId", knownPaymentId()},
            {"journalRecorded", journalRecorded}};
}

QString Outcome::receipt() const
{
    if (!customReceipt.isEmpty()) {
        return customReceipt;
    }
    QString text = heading(operation);
    if (operation == "fiscal") {
        return text + line("Result", success() ? "DELIVERED" : "NOT DELIVERED") +
               line("Payment id", paymentId) + line("Link", link);
    }
    text += line("Result", QString(nameOf(state)).toUpper());
    if (amountAsked > 0) {
        // A refund or cancel shows what was asked: the provider's answer carries no amount.
        text += line(operation == "sale" ? "Amount" : "Amount asked",
                     formatAmount(amountAsked) + QString(" (currency %1)").arg(currency));
    }
    if (!answer.getRRN().isEmpty()) {
        text += line("RRN", answer.getRRN());
    }
    if (!answer.getTerminalId().isEmpty()) {
        text += line("Terminal", answer.getTerminalId());
    }
    const QVariantMap info = answer.getAdditionalInfo();
    if (!info.value("phone").toString().isEmpty()) {
        text += line("Phone", info.value("phone").toString());
    }
    if (answer.getRRN().isEmpty() && !knownPaymentId().isEmpty()) {
        text += line("Payment id", knownPaymentId());
    }
    if (!answer.getMessage().isEmpty()) {
        text += line("Message", oxlenpay::messages::capped(answer.getMessage().ru()));
    }
    if (answer.getCode() != 0) {
        text += line("Code", QString::number(answer.getCode()));
    }
    if (state == ResultState::Unknown) {
        if (!transactionId.isEmpty()) {
            text += line("Transaction id", transactionId);
        }
        text += line("To do", whatToDo(operation));
    }
    return text;
}

} // namespace till
