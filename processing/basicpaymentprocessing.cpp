#include "basicpaymentprocessing.h"

#include "operationpacing.h"

#include <ctime>

BasicPaymentProcessing::BasicPaymentProcessing() : paySystemsDirectory("/pomerin/cash/paysystems/")
{
}

BasicPaymentProcessing::~BasicPaymentProcessing() = default;

void BasicPaymentProcessing::init() {}

bool BasicPaymentProcessing::isPaymentEnable(PaymentProcessingRequest::Type type) const
{
    return supportedPaymentTypes.count(type) != 0;
}

bool BasicPaymentProcessing::isPaymentEnable(const QSharedPointer<AbstractDocument>&) const
{
    return false;
}

bool BasicPaymentProcessing::isCancelEnable(PaymentProcessingRequest::Type type) const
{
    return supportedCancelTypes.count(type) != 0;
}

bool BasicPaymentProcessing::isCheckTotalsEnable() const
{
    return false;
}
bool BasicPaymentProcessing::isUsePaymentAsDiscount() const
{
    return false;
}

PaymentProcessingAnswer BasicPaymentProcessing::payment(const PaymentProcessingRequest&)
{
    return makeResult(tr::Tr("basicPaymentProcessingPayment", "Операция оплаты недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::change(const PaymentProcessingRequest&)
{
    return makeResult(tr::Tr("basicPaymentProcessingChange", "Операция сдачи недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::cancel(const PaymentProcessingRequest&)
{
    return makeResult(tr::Tr("basicPaymentProcessingCancel", "Операция отмены недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::checkTotals(int)
{
    return makeResult(
        tr::Tr("basicPaymentProcessingCheckTotals", "Операция печати короткого отчета недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::checkTotalsByMerchantId(const QString&)
{
    return makeResult(tr::Tr("basicPaymentProcessingCheckTotalsByMerchant",
                             "Операция сверки итогов для юр. лица недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::printCopy(int)
{
    return makeResult(
        tr::Tr("basicPaymentProcessingPrintCopy", "Операция печати копии недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::printReport()
{
    return makeResult(
        tr::Tr("basicPaymentProcessingPrintReport", "Операция печати полного отчета недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::printReportByMerchantId(const QString&)
{
    return makeResult(tr::Tr("basicPaymentProcessingPrintReportByMerchant",
                             "Операция печати полного отчета для юр. лица недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::printShortReport()
{
    return makeResult(tr::Tr("basicPaymentProcessingPrintShortReport",
                             "Операция печати короткого отчета недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::balance(const QString&)
{
    return makeResult(
        tr::Tr("basicPaymentProcessingBalance", "Операция запроса баланса недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::discountCard()
{
    return makeResult(tr::Tr("basicPaymentProcessingDiscountCard",
                             "Операция получения скидочной карты недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::loyaltyCards(const QString&)
{
    return makeResult(tr::Tr("basicPaymentProcessingLoyaltyCards",
                             "Операция получения списка карт лояльности недоступна"));
}

bool BasicPaymentProcessing::checkOption(EPaymentProcessingOption::Option option) const
{
    return legacyOptions.testFlag(option);
}

bool BasicPaymentProcessing::checkOption(processing::Option option) const
{
    return processingOptions.count(option) != 0;
}

void BasicPaymentProcessing::setOption(EPaymentProcessingOption::Option option, bool enabled)
{
    legacyOptions.setFlag(option, enabled);
}

void BasicPaymentProcessing::setOption(processing::Option option, bool enabled)
{
    if (enabled) {
        processingOptions.insert(option);
    } else {
        processingOptions.erase(option);
    }
}

void BasicPaymentProcessing::cancelCardRequest() {}

QMap<EPaymentProcessingInfo::MessageType, tr::Tr> BasicPaymentProcessing::getMessageInfo() const
{
    return {};
}

QString BasicPaymentProcessing::getDialogScanMask() const
{
    return QStringLiteral(".*");
}
QString BasicPaymentProcessing::getDialogImagePath() const
{
    return dialogImagePath;
}

PaymentProcessingAnswer BasicPaymentProcessing::testConnection()
{
    return makeResult(
        tr::Tr("basicPaymentProcessingTestConnection", "Операция проверки связи недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::demandPinCode()
{
    return makeResult(
        tr::Tr("basicPaymentProcessingDemandPinCode", "Операция запроса пин-кода недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::demandQRCode(const PaymentProcessingRequest&)
{
    return makeResult(
        tr::Tr("basicPaymentProcessingDemandQrCode", "Операция запроса QR-кода недоступна"));
}

PaymentProcessingAnswer BasicPaymentProcessing::getPaymentByQRCodeStatus(const QString&)
{
    return makeResult(tr::Tr("basicPaymentProcessingGetPaymentByQRCodeStatus",
                             "Операция получения статуса оплаты по QR-коду недоступна"));
}

int BasicPaymentProcessing::getWaitPaymentByQRCodeDuration() const
{
    return waitPaymentByQRCodeDuration;
}

int BasicPaymentProcessing::getWaitPaymentStatusDuration() const
{
    return getWaitPaymentByQRCodeDuration();
}

int BasicPaymentProcessing::getStatusRequestsInterval() const
{
    return statusRequestsInterval;
}

void BasicPaymentProcessing::cancelPaymentByQRCodeInQueue(const PaymentProcessingRequest&) {}

PaymentProcessingAnswer
BasicPaymentProcessing::paymentByQRCodeOnPinPad(const PaymentProcessingRequest&)
{
    return makeResult(tr::Tr("basicPaymentProcessingPaymentByQRCodeOnPinPad",
                             "Операция оплаты по QR-коду на PinPad недоступна"));
}

PaymentProcessingAnswer
BasicPaymentProcessing::cancelByQRCodeOnPinPad(const PaymentProcessingRequest&)
{
    return makeResult(tr::Tr("basicPaymentProcessingCancelByQRCodeOnPinPad",
                             "Операция отмены оплаты по QR-коду на PinPad недоступна"));
}

void BasicPaymentProcessing::setProcessingDirectory(const QString& directory)
{
    if (!directory.isEmpty()) {
        processingDirectory = directory;
    }
}

bool BasicPaymentProcessing::interruptPayment()
{
    return false;
}
int BasicPaymentProcessing::getValutCodeForGetHashedCardNumber() const
{
    return -1;
}

PaymentProcessingAnswer BasicPaymentProcessing::getHashedCardNumber()
{
    return makeResult(tr::Tr("basicPaymentProcessingGetHashedCardNumber",
                             "Операция получения хэшированного номера карты недоступна"));
}

bool BasicPaymentProcessing::sendEnqueuedMessage(const QMap<QString, QVariant>&)
{
    return false;
}

PaymentProcessingAnswer BasicPaymentProcessing::makeResult(const tr::Tr& message)
{
    PaymentProcessingAnswer answer;
    answer.setMessage(message);
    return answer;
}

void BasicPaymentProcessing::waitBeforeNextOperation(int seconds) const
{
    if (seconds <= 0 || lastOperationTime.tv_sec <= 0) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    qint64 delay = processing::pacingDelayMicroseconds(lastOperationTime, now, seconds);
    // One sleep, not resumed when a signal cuts it short. nanosleep takes the
    // whole 64-bit delay, where usleep would be limited to one second by POSIX.
    if (delay > 0) {
        timespec pause{time_t(delay / 1000000), long(delay % 1000000) * 1000};
        nanosleep(&pause, nullptr);
    }
}

void BasicPaymentProcessing::setLastOperationTime()
{
    clock_gettime(CLOCK_MONOTONIC, &lastOperationTime);
}
