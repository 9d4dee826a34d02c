#include "basicpaymentprocessing.h"
#include "unavailableoperations.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Unavailable;
using testsupport::unavailableOperations;

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
