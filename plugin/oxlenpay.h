#pragma once

#include "basicpaymentprocessing.h"
#include "interface.h"

#include <QObject>
#include <QSharedPointer>
#include <QVariantMap>

class OxlenPayTestAccess;

namespace Log4Qt {
class Logger;
}

namespace oxlenpay {

/// The processing object the host drives: wallet payments, refunds, cancels,
/// the fiscal link and the token scan dialog.
class OxlenPay : public QObject, public BasicPaymentProcessing {
    Q_OBJECT
    Q_INTERFACES(BasicPaymentProcessing)

public:
    /// Creates the provider client and reads its configuration.
    OxlenPay();
    /// For test harnesses: no client, no configuration read.
    explicit OxlenPay(utils::ForMock);
    ~OxlenPay() override;

    PaymentProcessingAnswer payment(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer cancel(const PaymentProcessingRequest& request) override;
    bool sendEnqueuedMessage(const QMap<QString, QVariant>& message) override;
    QMap<EPaymentProcessingInfo::MessageType, tr::Tr> getMessageInfo() const override;
    QString getDialogImagePath() const override;
    /// From another thread: ends the wait of a running payment, cancel or fiscal message.
    bool interruptPayment() override;

    /// Finishes what a gone process left open in the payment journal (the till's `recover`):
    /// {"error": why it could not run, "entries": [{"id", "operation", "paymentId",
    /// "amount", "currency", "before", "after", "key", "note"}]}.
    Q_INVOKABLE QVariantMap recoverJournal();

    /// How the calling thread's last operation ended, or the one running now (for a
    /// Ctrl-C handler): {"operation", "settlement" (approved, declined, reversed, unknown,
    /// reversalOwed), "journalState" (empty without a journal row), "journalRecorded",
    /// "transactionId", "paymentId", "running"}; empty before any operation.
    Q_INVOKABLE QVariantMap lastOperation();

    /// A refund: a full reversal when it returns the whole original amount, else a partial one.
    PaymentProcessingAnswer reversal(const PaymentProcessingRequest& request);

private:
    friend class ::OxlenPayTestAccess;

    void declareCapabilities();
    /// False, with the error logged, when the processing was built without a client.
    bool hasClient() const;
    PaymentProcessingAnswer noClientAnswer() const;
    PaymentProcessingAnswer reversalAnswer(const Interface::RequestResult& result,
                                           const PaymentProcessingRequest& request) const;

    QSharedPointer<Interface> interface;
    Log4Qt::Logger* logger = nullptr;
};

} // namespace oxlenpay
