#pragma once

#include "paymentprocessinganswer.h"

#include <QJsonObject>
#include <QString>

namespace till {

/// One "label value" line of a receipt, the label padded to a column.
QString receiptLine(const QString& label, const QString& value);

/// How a money operation ended for the cashier.
enum class ResultState { Approved, Declined, Unknown };

/// What one operation gave: the plug-in's answer plus what the till asked for, rendered
/// either as a receipt or as JSON.
struct Outcome {
    QString operation; // "sale", "refund", "cancel", "fiscal", "info"
    ResultState state = ResultState::Declined;
    PaymentProcessingAnswer answer;
    qint32 amountAsked = 0; // hundredths; 0 when none was given
    qint32 currency = 0;
    QString paymentId;           // the payment the operation was about, once known
    QString transactionId;       // the journal's id of the operation
    QString link;                // the fiscal link handed over
    QString journalState;        // the journal row's state, as the plug-in left it
    bool journalRecorded = true; // false: approved, but the journal could not record it

    /// For operations without a money answer (info): rendered elsewhere.
    QJsonObject customJson;
    QString customReceipt;

    static Outcome ofAnswer(const QString& operation, const PaymentProcessingAnswer& answer);
    static Outcome ofFiscal(bool delivered, const QString& paymentId, const QString& link);

    bool success() const { return state == ResultState::Approved; }
    /// 0 approved, 1 declined, 4 unknown.
    int exitStatus() const;
    QJsonObject json() const;
    QString receipt() const;
    /// "approved", "declined" or "unknown".
    QString stateName() const;
    /// The payment the operation was about, from the answer or the journal.
    QString knownPaymentId() const;
};

} // namespace till
