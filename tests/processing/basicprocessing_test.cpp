#include "basicpaymentprocessing.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Unavailable {
    const char* operation;
    std::function<PaymentProcessingAnswer(BasicPaymentProcessing&)> call;
    const char* key;
    const char* text;
};

// Every default that answers "not available", called through the interface
// pointer so the order of the virtual operations is exercised as a host sees it.
std::vector<Unavailable> unavailableOperations()
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

TEST(BasicPaymentProcessing, EveryUnavailableOperationAnswersItsOwnText)
{
    BasicPaymentProcessing processing;
    const auto operations = unavailableOperations();
    ASSERT_EQ(operations.size(), 19u);
    for (const Unavailable& op : operations) {
        SCOPED_TRACE(op.operation);
        const PaymentProcessingAnswer answer = op.call(processing);
        EXPECT_FALSE(answer.isSuccess());
        EXPECT_EQ(answer.getCode(), 0);
        EXPECT_EQ(answer.getMessage(), tr::Tr(op.key, QString::fromUtf8(op.text)));
        EXPECT_EQ(answer.getMessage().ru(), QString::fromUtf8(op.text));
        EXPECT_EQ(answer, op.call(processing));
        EXPECT_TRUE(answer.getRRN().isNull());
        EXPECT_TRUE(answer.getAdditionalInfo().isEmpty());
    }
}

TEST(BasicPaymentProcessing, FreshDefaults)
{
    BasicPaymentProcessing processing;
    AbstractPaymentProcessing& host = processing;
    for (int type = -1; type <= 8; ++type) {
        EXPECT_FALSE(host.isPaymentEnable(PaymentProcessingRequest::Type(type)));
        EXPECT_FALSE(host.isCancelEnable(PaymentProcessingRequest::Type(type)));
    }
    EXPECT_FALSE(host.isPaymentEnable(QSharedPointer<AbstractDocument>()));
    EXPECT_FALSE(host.isCheckTotalsEnable());
    EXPECT_FALSE(host.isUsePaymentAsDiscount());
    EXPECT_EQ(host.getDialogScanMask(), ".*");
    EXPECT_TRUE(host.getDialogImagePath().isEmpty());
    EXPECT_TRUE(host.getMessageInfo().isEmpty());
    EXPECT_EQ(host.getValutCodeForGetHashedCardNumber(), -1);
    EXPECT_EQ(host.getStatusRequestsInterval(), 1);
    EXPECT_EQ(host.getWaitPaymentByQRCodeDuration(), 0);
    EXPECT_EQ(host.getWaitPaymentStatusDuration(), 0);
    EXPECT_FALSE(host.interruptPayment());
    EXPECT_FALSE(host.sendEnqueuedMessage({{"messagetype", "sendofddata"}}));
    host.init();
    host.cancelCardRequest();
    host.cancelPaymentByQRCodeInQueue(PaymentProcessingRequest());
}

TEST(BasicPaymentProcessing, LegacyOptionsAreAFlagWord)
{
    using namespace EPaymentProcessingOption;
    BasicPaymentProcessing processing;
    EXPECT_TRUE(processing.checkOption(Option(0)));
    for (int bit = 0; bit < 31; ++bit) {
        EXPECT_FALSE(processing.checkOption(Option(1 << bit)));
    }

    processing.setOption(Option(0x4010), true);
    EXPECT_TRUE(processing.checkOption(Option(0x10)));
    EXPECT_TRUE(processing.checkOption(Option(0x4000)));
    EXPECT_TRUE(processing.checkOption(Option(0x4010)));
    EXPECT_FALSE(processing.checkOption(Option(0x20)));
    EXPECT_FALSE(processing.checkOption(Option(0)));
    EXPECT_FALSE(processing.checkOption(Option(0x4030))) << "all bits of a mask must be set";

    processing.setOption(Option(0x10), false);
    EXPECT_FALSE(processing.checkOption(Option(0x4010)));
    EXPECT_TRUE(processing.checkOption(Option(0x4000)));

    processing.setOption(Option(0x4000), false);
    EXPECT_TRUE(processing.checkOption(Option(0))) << "0 answers true again once no bit is set";
}

TEST(BasicPaymentProcessing, OptionStoresAreIndependent)
{
    BasicPaymentProcessing processing;
    processing.setOption(processing::Option::PrintSlip, true);
    processing.setOption(processing::Option::PrintSlip, true);
    EXPECT_TRUE(processing.checkOption(processing::Option::PrintSlip));
    EXPECT_FALSE(processing.checkOption(processing::Option::ShowProgress));
    EXPECT_TRUE(processing.checkOption(EPaymentProcessingOption::Option(0)))
        << "a processing::Option never reaches the legacy word";
    processing.setOption(processing::Option::PrintSlip, false);
    EXPECT_FALSE(processing.checkOption(processing::Option::PrintSlip)) << "no count is kept";

    processing.setOption(EPaymentProcessingOption::Option(1), true);
    processing.setOption(EPaymentProcessingOption::Option(2), true);
    for (auto option : {processing::Option::PrintSlip, processing::Option::FiscalLinkAfterSale}) {
        EXPECT_FALSE(processing.checkOption(option));
    }
    processing.setOption(processing::Option::FiscalLinkAfterSale, false);
    EXPECT_TRUE(processing.checkOption(EPaymentProcessingOption::Option(3)));
}

class DerivedProcessing : public BasicPaymentProcessing {
public:
    DerivedProcessing()
    {
        supportedPaymentTypes.insert(PaymentProcessingRequest::Sale);
        supportedPaymentTypes.insert(PaymentProcessingRequest::Refund);
        supportedPaymentTypes.insert(PaymentProcessingRequest::Sale);
        supportedCancelTypes.insert(PaymentProcessingRequest::Sale);
    }
    int getWaitPaymentByQRCodeDuration() const override { return 120; }
    QString directory() const { return processingDirectory; }
    QString paySystems() const { return paySystemsDirectory; }
};

TEST(BasicPaymentProcessing, DerivedProcessingFillsTypesAndOverrides)
{
    DerivedProcessing derived;
    BasicPaymentProcessing& base = derived;
    EXPECT_TRUE(base.isPaymentEnable(PaymentProcessingRequest::Sale));
    EXPECT_TRUE(base.isPaymentEnable(PaymentProcessingRequest::Refund));
    EXPECT_FALSE(base.isPaymentEnable(PaymentProcessingRequest::Cancel));
    EXPECT_TRUE(base.isCancelEnable(PaymentProcessingRequest::Sale));
    EXPECT_FALSE(base.isCancelEnable(PaymentProcessingRequest::Refund));
    EXPECT_EQ(base.getWaitPaymentStatusDuration(), 120);

    EXPECT_EQ(derived.paySystems(), "/pomerin/cash/paysystems/");
    base.setProcessingDirectory("/var/lib/till");
    base.setProcessingDirectory("");
    base.setProcessingDirectory(QString());
    EXPECT_EQ(derived.directory(), "/var/lib/till");
}

TEST(BasicPaymentProcessing, MakeResultSetsOnlyTheMessage)
{
    BasicPaymentProcessing processing;
    PaymentProcessingAnswer expected;
    expected.setMessage(tr::Tr("k", "t"));
    EXPECT_EQ(processing.makeResult(tr::Tr("k", "t")), expected);
}

} // namespace
