#pragma once

#include "basicpaymentprocessing.h"

#include <functional>
#include <vector>

namespace testsupport {

struct Unavailable {
    const char* operation;
    std::function<PaymentProcessingAnswer(BasicPaymentProcessing&)> call;
    const char* key;
    const char* text;
};

// Every default that answers "not available", called through the interface
// pointer so the order of the virtual operations is exercised as a host sees it.
inline std::vector<Unavailable> unavailableOperations()
{
    const PaymentProcessingRequest request;
    return {
        {"payment", [=](BasicPaymentProcessing& p) { return p.payment(request); },
         "basicPaymentProcessingPayment", "Операция оплаты недоступна"},
        {"change", [=](BasicPaymentProcessing& p) { return p.change(request); },
         "basicPaymentProcessingChange", "Операция сдачи недоступна"},
        {"cancel", [=](BasicPaymentProcessing& p) { return p.cancel(request); },
         "basicPaymentProcessingCancel", "Операция отмены недоступна"},
        {"checkTotals", [](BasicPaymentProcessing& p) { return p.checkTotals(1); },
         "basicPaymentProcessingCheckTotals", "Операция печати короткого отчета недоступна"},
        {"checkTotalsByMerchantId",
         [](BasicPaymentProcessing& p) { return p.checkTotalsByMerchantId("m"); },
         "basicPaymentProcessingCheckTotalsByMerchant",
         "Операция сверки итогов для юр. лица недоступна"},
        {"printCopy", [](BasicPaymentProcessing& p) { return p.printCopy(3); },
         "basicPaymentProcessingPrintCopy", "Операция печати копии недоступна"},
        {"printReport", [](BasicPaymentProcessing& p) { return p.printReport(); },
         "basicPaymentProcessingPrintReport", "Операция печати полного отчета недоступна"},
        {"printReportByMerchantId",
         [](BasicPaymentProcessing& p) { return p.printReportByMerchantId("m"); },
         "basicPaymentProcessingPrintReportByMerchant",
         "Операция печати полного отчета для юр. лица недоступна"},
        {"printShortReport", [](BasicPaymentProcessing& p) { return p.printShortReport(); },
         "basicPaymentProcessingPrintShortReport", "Операция печати короткого отчета недоступна"},
        {"balance", [](BasicPaymentProcessing& p) { return p.balance("card"); },
         "basicPaymentProcessingBalance", "Операция запроса баланса недоступна"},
        {"discountCard", [](BasicPaymentProcessing& p) { return p.discountCard(); },
         "basicPaymentProcessingDiscountCard", "Операция получения скидочной карты недоступна"},
        {"loyaltyCards", [](BasicPaymentProcessing& p) { return p.loyaltyCards("card"); },
         "basicPaymentProcessingLoyaltyCards",
         "Операция получения списка карт лояльности недоступна"},
        {"testConnection", [](BasicPaymentProcessing& p) { return p.testConnection(); },
         "basicPaymentProcessingTestConnection", "Операция проверки связи недоступна"},
        {"demandPinCode", [](BasicPaymentProcessing& p) { return p.demandPinCode(); },
         "basicPaymentProcessingDemandPinCode", "Операция запроса пин-кода недоступна"},
        {"demandQRCode", [=](BasicPaymentProcessing& p) { return p.demandQRCode(request); },
         "basicPaymentProcessingDemandQrCode", "Операция запроса QR-кода недоступна"},
        {"getPaymentByQRCodeStatus",
         [](BasicPaymentProcessing& p) { return p.getPaymentByQRCodeStatus("id"); },
         "basicPaymentProcessingGetPaymentByQRCodeStatus",
         "Операция получения статуса оплаты по QR-коду недоступна"},
        {"paymentByQRCodeOnPinPad",
         [=](BasicPaymentProcessing& p) { return p.paymentByQRCodeOnPinPad(request); },
         "basicPaymentProcessingPaymentByQRCodeOnPinPad",
         "Операция оплаты по QR-коду на PinPad недоступна"},
        {"cancelByQRCodeOnPinPad",
         [=](BasicPaymentProcessing& p) { return p.cancelByQRCodeOnPinPad(request); },
         "basicPaymentProcessingCancelByQRCodeOnPinPad",
         "Операция отмены оплаты по QR-коду на PinPad недоступна"},
        {"getHashedCardNumber", [](BasicPaymentProcessing& p) { return p.getHashedCardNumber(); },
         "basicPaymentProcessingGetHashedCardNumber",
         "Операция получения хэшированного номера карты недоступна"},
    };
}

} // namespace testsupport
