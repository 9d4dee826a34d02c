#pragma once

#include "basicpaymentprocessing.h"
#include "tilloutcome.h"

#include <QString>

namespace till {

/// Drives the plug-in through the host's processing interface only.
class TillOperations {
public:
    explicit TillOperations(BasicPaymentProcessing* processing) : m_processing(processing) {}

    Outcome sale(qint32 amount, const QString& token, qint32 currency);
    Outcome refund(const QString& rrn, qint32 amount, qint32 original, qint32 currency);
    Outcome cancel(const QString& rrn, qint32 amount, qint32 currency);
    Outcome fiscal(const QString& rrn, const QString& qr);
    Outcome info();

private:
    qint64 waitLimitMs() const;
    /// One blocking call of the plug-in with the progress display and Ctrl-C guard.
    Outcome waitFor(
        const QString& operation, const PaymentProcessingRequest& request,
        PaymentProcessingAnswer (BasicPaymentProcessing::*call)(const PaymentProcessingRequest&));

    BasicPaymentProcessing* m_processing;
};

} // namespace till
