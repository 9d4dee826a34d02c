#pragma once

#include "hostenums.h"
#include "paymentprocessinganswer.h"
#include "paymentprocessingrequest.h"
#include "tr.h"

#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

class AbstractDocument;

/// The host's processing interface. The order of the virtual operations is
/// part of the binary contract with the host: never reorder, only append.
class AbstractPaymentProcessing {
public:
    virtual ~AbstractPaymentProcessing() = default;

    virtual void init() = 0;
    virtual bool isPaymentEnable(PaymentProcessingRequest::Type type) const = 0;
    virtual bool isPaymentEnable(const QSharedPointer<AbstractDocument>& document) const = 0;
    virtual bool isCancelEnable(PaymentProcessingRequest::Type type) const = 0;
    virtual bool isCheckTotalsEnable() const = 0;
    virtual bool isUsePaymentAsDiscount() const = 0;
    virtual PaymentProcessingAnswer payment(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer change(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer cancel(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer checkTotals(int merchant) = 0;
    virtual PaymentProcessingAnswer checkTotalsByMerchantId(const QString& merchantId) = 0;
    virtual PaymentProcessingAnswer printCopy(int receipt) = 0;
    virtual PaymentProcessingAnswer printReport() = 0;
    virtual PaymentProcessingAnswer printReportByMerchantId(const QString& merchantId) = 0;
    virtual PaymentProcessingAnswer printShortReport() = 0;
    virtual PaymentProcessingAnswer balance(const QString& card) = 0;
    virtual PaymentProcessingAnswer discountCard() = 0;
    virtual PaymentProcessingAnswer loyaltyCards(const QString& card) = 0;
    virtual bool checkOption(EPaymentProcessingOption::Option option) const = 0;
    virtual bool checkOption(processing::Option option) const = 0;
    virtual void setOption(EPaymentProcessingOption::Option option, bool enabled) = 0;
    virtual void setOption(processing::Option option, bool enabled) = 0;
    virtual void cancelCardRequest() = 0;
    virtual QMap<EPaymentProcessingInfo::MessageType, tr::Tr> getMessageInfo() const = 0;
    virtual QString getDialogScanMask() const = 0;
    virtual QString getDialogImagePath() const = 0;
    virtual PaymentProcessingAnswer testConnection() = 0;
    virtual PaymentProcessingAnswer demandPinCode() = 0;
    virtual PaymentProcessingAnswer demandQRCode(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer getPaymentByQRCodeStatus(const QString& id) = 0;
    virtual int getWaitPaymentByQRCodeDuration() const = 0;
    virtual int getWaitPaymentStatusDuration() const = 0;
    virtual int getStatusRequestsInterval() const = 0;
    virtual void cancelPaymentByQRCodeInQueue(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer
    paymentByQRCodeOnPinPad(const PaymentProcessingRequest& request) = 0;
    virtual PaymentProcessingAnswer
    cancelByQRCodeOnPinPad(const PaymentProcessingRequest& request) = 0;
    virtual void setProcessingDirectory(const QString& directory) = 0;
    virtual bool interruptPayment() = 0;
    virtual int getValutCodeForGetHashedCardNumber() const = 0;
    virtual PaymentProcessingAnswer getHashedCardNumber() = 0;
    virtual bool sendEnqueuedMessage(const QMap<QString, QVariant>& message) = 0;
};
