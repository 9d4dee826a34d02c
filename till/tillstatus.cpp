#include "tillstatus.h"

#include "amount.h"
#include "interface.h"
#include "journal.h"
#include "journalformat.h"
#include "messages.h"
#include "tilljournal.h"

#include <QJsonArray>
#include <QJsonObject>

namespace till {

Outcome paymentStatus(const QString& paymentId)
{
    oxlenpay::Interface client;
    client.init();
    const QJsonObject body{{"service_id", client.getMerchantServiceId().toLongLong()},
                           {"payment_id", paymentId}};
    const auto result = client.sendRequest(oxlenpay::Interface::PaymentStatus, body);
    const QString status = result.getPaymentStatus();
    const bool answered = result.errorCode != 0 || !status.isEmpty();

    Outcome outcome;
    outcome.operation = "status";
    outcome.paymentId = paymentId;
    outcome.state = !answered               ? ResultState::Unknown
                    : result.errorCode != 0 ? ResultState::Declined
                                            : ResultState::Approved;
    // The provider's text, capped as everywhere the till prints it.
    const QString text = oxlenpay::messages::capped(result.message.ru());
    outcome.customJson = {{"operation", "status"},         {"paymentId", paymentId},
                          {"answered", answered},          {"status", status},
                          {"errorCode", result.errorCode}, {"message", text},
                          {"phone", result.getPhone()}};
    QString receipt =
        "==== STATUS ============================\n" + receiptLine("Payment id", paymentId);
    if (answered && result.errorCode == 0) {
        receipt += receiptLine("Status", status);
        if (!result.getPhone().isEmpty()) {
            receipt += receiptLine("Phone", result.getPhone());
        }
    } else if (answered) {
        receipt += receiptLine("Error", QString("%1 %2").arg(result.errorCode).arg(text));
    } else {
        receipt += receiptLine("No answer", text.isEmpty() ? "the answer was lost" : text);
    }
    // What the journal knows of the payment, beside what the provider says.
    oxlenpay::Journal journal;
    QString path, problem;
    QVector<oxlenpay::JournalEntry> rows;
    oxlenpay::Journal::Filter ofPayment;
    ofPayment.paymentId = paymentId;
    if (!paymentId.isEmpty() &&
        openJournal(&journal, oxlenpay::Journal::OpenMode::ReadOnly, &path, &problem) &&
        journal.entries(&rows, ofPayment)) {
        QJsonArray known;
        for (const oxlenpay::JournalEntry& row : rows) {
            const QString operation = oxlenpay::JournalEntry::operationName(row.operation);
            const QString state = oxlenpay::JournalEntry::stateName(row.state);
            receipt += receiptLine(
                "Journal", QString("%1 %2 %3 (%4)")
                               .arg(operation, journalformat::amountOf(row), state, row.id));
            known.append(QJsonObject{
                {"id", row.id},
                {"operation", operation},
                {"amount", row.amountKnown ? QJsonValue(formatAmount(row.amount)) : QJsonValue()},
                {"state", state}});
        }
        outcome.customJson.insert("journal", known);
    }
    outcome.customReceipt = receipt;
    return outcome;
}

} // namespace till
