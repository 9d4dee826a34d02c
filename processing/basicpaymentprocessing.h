#pragma once

#include "abstractpaymentprocessing.h"

#include <QFlags>
#include <QObject>
#include <QString>
#include <QtPlugin>

#include <ctime>
#include <set>

/// Base of every payment processing: a default for each operation of the
/// interface, and the state all processings share.
class BasicPaymentProcessing : public AbstractPaymentProcessing {
public:
    BasicPaymentProcessing();
    ~BasicPaymentProcessing() override;

    void init() override;
    bool isPaymentEnable(PaymentProcessingRequest::Type type) const override;
    bool isPaymentEnable(const QSharedPointer<AbstractDocument>& document) const override;
    bool isCancelEnable(PaymentProcessingRequest::Type type) const override;
    bool isCheckTotalsEnable() const override;
    bool isUsePaymentAsDiscount() const override;
    PaymentProcessingAnswer payment(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer change(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer cancel(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer checkTotals(int merchant) override;
    PaymentProcessingAnswer checkTotalsByMerchantId(const QString& merchantId) override;
    PaymentProcessingAnswer printCopy(int receipt) override;
    PaymentProcessingAnswer printReport() override;
    PaymentProcessingAnswer printReportByMerchantId(const QString& merchantId) override;
    PaymentProcessingAnswer printShortReport() override;
    PaymentProcessingAnswer balance(const QString& card) override;
    PaymentProcessingAnswer discountCard() override;
    PaymentProcessingAnswer loyaltyCards(const QString& card) override;
    bool checkOption(EPaymentProcessingOption::Option option) const override;
    bool checkOption(processing::Option option) const override;
    void setOption(EPaymentProcessingOption::Option option, bool enabled) override;
    void setOption(processing::Option option, bool enabled) override;
    void cancelCardRequest() override;
    QMap<EPaymentProcessingInfo::MessageType, tr::Tr> getMessageInfo() const override;
    QString getDialogScanMask() const override;
    QString getDialogImagePath() const override;
    PaymentProcessingAnswer testConnection() override;
    PaymentProcessingAnswer demandPinCode() override;
    PaymentProcessingAnswer demandQRCode(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer getPaymentByQRCodeStatus(const QString& id) override;
    int getWaitPaymentByQRCodeDuration() const override;
    int getWaitPaymentStatusDuration() const override;
    int getStatusRequestsInterval() const override;
    void cancelPaymentByQRCodeInQueue(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer
    paymentByQRCodeOnPinPad(const PaymentProcessingRequest& request) override;
    PaymentProcessingAnswer
    cancelByQRCodeOnPinPad(const PaymentProcessingRequest& request) override;
    void setProcessingDirectory(const QString& directory) override;
    bool interruptPayment() override;
    int getValutCodeForGetHashedCardNumber() const override;
    PaymentProcessingAnswer getHashedCardNumber() override;
    bool sendEnqueuedMessage(const QMap<QString, QVariant>& message) override;

    /// A failed default answer carrying the given text.
    PaymentProcessingAnswer makeResult(const tr::Tr& message);
    /// Blocks until `seconds` have passed since the last stamp (monotonic clock).
    void waitBeforeNextOperation(int seconds) const;
    void setLastOperationTime();

protected:
    QFlags<EPaymentProcessingOption::Option> legacyOptions;
    std::set<processing::Option> processingOptions;
    timespec lastOperationTime{0, 0};
    QString processingDirectory;
    std::set<PaymentProcessingRequest::Type> supportedPaymentTypes;
    std::set<PaymentProcessingRequest::Type> supportedCancelTypes;
    int waitPaymentByQRCodeDuration = 0;
    int statusRequestsInterval = 1;
    QString dialogImagePath;
    QString paySystemsDirectory;
};

Q_DECLARE_INTERFACE(BasicPaymentProcessing, "StrovaPaymentProcessing/1.0")
