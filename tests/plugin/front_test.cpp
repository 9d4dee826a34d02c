#include "config.h"
#include "logcapture.h"
#include "oxlenpay.h"
#include "singleton.h"

#include "createanswer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

class OxlenPayTestAccess {
public:
    static void setInterface(oxlenpay::OxlenPay& front, QSharedPointer<oxlenpay::Interface> client)
    {
        front.interface = std::move(client);
    }
    static bool hasInterface(const oxlenpay::OxlenPay& front) { return !front.interface.isNull(); }
};

namespace {

using oxlenpay::Interface;
using ::testing::_;
using ::testing::Field;
using ::testing::Return;
using ::testing::StrictMock;

class MockInterface : public Interface {
public:
    MockInterface() { merchantServiceId = 5001; }
    MOCK_METHOD(void, init, (), (override));
    MOCK_METHOD(RequestResult, payment, (const PaymentProcessingRequest&), (override));
    MOCK_METHOD(RequestResult, reversal, (const PaymentProcessingRequest&), (const, override));
    MOCK_METHOD(RequestResult, partialReversal, (const PaymentProcessingRequest&),
                (const, override));
    MOCK_METHOD(bool, sendOfdData, (const QString&, const QString&), (const, override));
};

Interface::RequestResult result(bool success, const QString& id, const QString& status = "SUCCESS")
{
    Interface::RequestResult r;
    r.success = success;
    r.data = {{"payment_id", id}, {"payment_status", status}, {"client_phone_number", "+7701"}};
    if (!success) {
        r.errorCode = 2001;
        r.message = tr::Tr("undefined", "Недостаточно средств");
    }
    return r;
}

class FrontTest : public ::testing::Test {
protected:
    FrontTest() : front(utils::ForMock{}), client(new StrictMock<MockInterface>)
    {
        OxlenPayTestAccess::setInterface(front, client);
        request.currencyCode = 398;
    }
    QStringList lines() const { return log.of("oxlenpay"); }

    testsupport::LogCapture log;
    oxlenpay::OxlenPay front;
    QSharedPointer<StrictMock<MockInterface>> client;
    PaymentProcessingRequest request;
};

TEST_F(FrontTest, InterruptWithNothingRunningDoesNothing)
{
    EXPECT_FALSE(front.interruptPayment());
    oxlenpay::OxlenPay bare{utils::ForMock{}};
    EXPECT_FALSE(bare.interruptPayment()) << "no client, nothing to interrupt";
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(FrontTest, MockConstructionDeclaresTheSameCapabilities)
{
    oxlenpay::OxlenPay bare{utils::ForMock{}};
    EXPECT_FALSE(OxlenPayTestAccess::hasInterface(bare));
    for (int type = -1; type <= 6; ++type) {
        const auto t = PaymentProcessingRequest::Type(type);
        EXPECT_EQ(bare.isPaymentEnable(t), type == 1 || type == 3) << type;
        EXPECT_EQ(bare.isCancelEnable(t), type == 1) << type;
    }
    EXPECT_TRUE(bare.checkOption(EPaymentProcessingOption::Option(0x4010)));
    EXPECT_TRUE(bare.checkOption(EPaymentProcessingOption::Option(0x20)));
    EXPECT_FALSE(bare.checkOption(EPaymentProcessingOption::Option(0)));
    EXPECT_FALSE(bare.checkOption(processing::Option::PrintSlip));
}

TEST_F(FrontTest, SuccessfulSale)
{
    request.type = PaymentProcessingRequest::Sale;
    request.sum = 1500;
    EXPECT_CALL(*client, payment(Field(&PaymentProcessingRequest::sum, 1500)))
        .WillOnce(Return(result(true, "pay-1")));
    const PaymentProcessingAnswer answer = front.payment(request);
    EXPECT_TRUE(answer.isSuccess());
    EXPECT_EQ(answer.getStatus(), 0);
    EXPECT_EQ(answer.getRRN(), "pay-1");
    EXPECT_EQ(answer.getTerminalId(), "5001");
    EXPECT_EQ(answer.getPaymentMethod(), 2);
    EXPECT_EQ(answer.getCode(), 0);
    EXPECT_TRUE(answer.getMessage().isEmpty());
    EXPECT_EQ(answer.getSum(), 0.0);
    const QVariantMap info = answer.getAdditionalInfo();
    EXPECT_EQ(info.keys(), QStringList({"paymentProvider", "phone", "rrn", "valutCode"}));
    EXPECT_EQ(info.value("paymentProvider").type(), QVariant::Int);
    EXPECT_EQ(info.value("paymentProvider").toInt(), 161);
    EXPECT_EQ(info.value("phone").type(), QVariant::String);
    EXPECT_EQ(info.value("phone").toString(), "+7701");
    EXPECT_EQ(info.value("rrn").toString(), answer.getRRN());
    EXPECT_EQ(info.value("valutCode").type(), QVariant::Int);
    EXPECT_EQ(info.value("valutCode").toInt(), 398);
    EXPECT_EQ(lines(), QStringList{"INFO Оплата на сумму 15.00"});
}

TEST_F(FrontTest, FailedSaleKeepsTheIdOutOfTheRrn)
{
    request.type = PaymentProcessingRequest::Sale;
    EXPECT_CALL(*client, payment(_)).WillOnce(Return(result(false, "pay-2", "PENDING")));
    const PaymentProcessingAnswer answer = front.payment(request);
    EXPECT_FALSE(answer.isSuccess());
    EXPECT_EQ(answer.getStatus(), 1);
    EXPECT_TRUE(answer.getRRN().isEmpty());
    EXPECT_EQ(answer.getTerminalId(), "5001");
    EXPECT_EQ(answer.getCode(), 2001);
    EXPECT_EQ(answer.getMessage(), tr::Tr("undefined", "Недостаточно средств"));
    EXPECT_EQ(answer.getAdditionalInfo().value("rrn").toString(), "pay-2");
    EXPECT_EQ(answer.getAdditionalInfo().size(), 4);
}

TEST_F(FrontTest, AmountsInTheLogLine)
{
    request.type = PaymentProcessingRequest::Sale;
    EXPECT_CALL(*client, payment(_)).WillRepeatedly(Return(result(true, "p")));
    for (int sum : {0, -250, 5, 100, 123456789}) {
        request.sum = sum;
        front.payment(request);
    }
    EXPECT_EQ(lines(), QStringList({"INFO Оплата на сумму 0.00", "INFO Оплата на сумму -2.50",
                                    "INFO Оплата на сумму 0.05", "INFO Оплата на сумму 1.00",
                                    "INFO Оплата на сумму 1234567.89"}));
}

TEST_F(FrontTest, RefundReversesInFullOrInPart)
{
    request.type = PaymentProcessingRequest::Refund;
    request.rrn = "pay-1";
    request.originalSum = 1500;
    struct Case {
        int sum;
        bool full;
    };
    for (const Case& c : {Case{1500, true}, Case{500, false}, Case{2000, false}}) {
        log.clear();
        request.sum = c.sum;
        if (c.full) {
            EXPECT_CALL(*client, reversal(_)).WillOnce(Return(result(true, "from-answer")));
        } else {
            EXPECT_CALL(*client, partialReversal(Field(&PaymentProcessingRequest::sum, c.sum)))
                .WillOnce(Return(result(true, "from-answer", "PARTIAL_CANCELLED")));
        }
        const PaymentProcessingAnswer answer = front.payment(request);
        ::testing::Mock::VerifyAndClearExpectations(client.data());
        EXPECT_TRUE(answer.isSuccess());
        EXPECT_TRUE(answer.getRRN().isEmpty());
        EXPECT_TRUE(answer.getTerminalId().isEmpty());
        EXPECT_EQ(answer.getPaymentMethod(), 2);
        EXPECT_EQ(answer.getAdditionalInfo(),
                  QVariantMap({{"rrn", "from-answer"}, {"valutCode", 398}}));
        EXPECT_EQ(lines(),
                  QStringList({"INFO Оплата на сумму " + QString::number(c.sum / 100.0, 'f', 2),
                               "INFO Отмена операции: pay-1"}));
    }
}

TEST_F(FrontTest, EveryTypeButSaleTakesTheRefundPath)
{
    request.sum = request.originalSum = 100;
    EXPECT_CALL(*client, reversal(_)).Times(3).WillRepeatedly(Return(result(false, "")));
    for (int type : {0, 2, 42}) {
        request.type = PaymentProcessingRequest::Type(type);
        EXPECT_FALSE(front.payment(request).isSuccess());
    }
}

TEST_F(FrontTest, CancelIsAlwaysFull)
{
    request.type = PaymentProcessingRequest::Sale;
    request.rrn = "pay-9";
    request.sum = 100;
    request.originalSum = 1500;
    EXPECT_CALL(*client, reversal(Field(&PaymentProcessingRequest::rrn, QString("pay-9"))))
        .WillOnce(Return(result(false, "pay-9", "PENDING")));
    const PaymentProcessingAnswer answer = front.cancel(request);
    EXPECT_FALSE(answer.isSuccess());
    EXPECT_EQ(answer.getCode(), 2001);
    EXPECT_EQ(answer.getAdditionalInfo(), QVariantMap({{"rrn", "pay-9"}, {"valutCode", 398}}));
    EXPECT_TRUE(answer.getTerminalId().isEmpty());
    EXPECT_EQ(lines(), QStringList{"INFO Отмена операции: pay-9"});
}

TEST_F(FrontTest, FiscalMessage)
{
    EXPECT_CALL(*client, sendOfdData(QString("pay-1"), QString("https://ofd/r?1")))
        .WillOnce(Return(true));
    const QVariantMap fiscal{{"qr", "https://ofd/r?1"}, {"fn", 123}};
    EXPECT_TRUE(front.sendEnqueuedMessage(
        {{"messagetype", "sendofddata"},
         {"payload", QVariantMap{{"rrn", "pay-1"}, {"fiscalData", fiscal}}},
         {"extra", 1}}));
    EXPECT_EQ(lines(), QStringList{"INFO Отправка сообщения из очереди"});

    EXPECT_CALL(*client, sendOfdData(QString(), QString())).WillOnce(Return(false));
    EXPECT_FALSE(front.sendEnqueuedMessage({{"messagetype", "sendofddata"}}));
    EXPECT_CALL(*client, sendOfdData(QString("7"), QString())).WillOnce(Return(false));
    EXPECT_FALSE(front.sendEnqueuedMessage(
        {{"messagetype", "sendofddata"}, {"payload", QVariantMap{{"rrn", 7}, {"fiscalData", 5}}}}));
}

TEST_F(FrontTest, UnknownMessageTypesAreRefused)
{
    for (const QVariantMap& message :
         {QVariantMap{{"messagetype", "SendOfdData"}}, QVariantMap{{"messagetype", "sendofddata "}},
          QVariantMap{{"messagetype", "other"}}, QVariantMap{}}) {
        log.clear();
        EXPECT_FALSE(front.sendEnqueuedMessage(message));
        EXPECT_EQ(lines(), QStringList({"INFO Отправка сообщения из очереди",
                                        "ERROR Неизвестный тип сообщения"}));
    }
}

TEST_F(FrontTest, ScanDialogTexts)
{
    const auto texts = front.getMessageInfo();
    EXPECT_EQ(texts.keys(),
              QList<EPaymentProcessingInfo::MessageType>({EPaymentProcessingInfo::DialogTitle,
                                                          EPaymentProcessingInfo::DialogMessage,
                                                          EPaymentProcessingInfo::DialogError}));
    EXPECT_EQ(texts.value(EPaymentProcessingInfo::DialogTitle),
              tr::Tr("oxlenPayScanTitle", "Ввод токена Oxlen Pay"));
    EXPECT_EQ(texts.value(EPaymentProcessingInfo::DialogMessage),
              tr::Tr("oxlenPayScanMessage", "Отсканируйте токен Oxlen Pay"));
    EXPECT_EQ(
        texts.value(EPaymentProcessingInfo::DialogError),
        tr::Tr("oxlenPayScanError", "Ошибка считывания токена Oxlen Pay,\nповторите сканирование"));
    EXPECT_EQ(texts.value(EPaymentProcessingInfo::DialogError).ru().count('\n'), 1);

    auto first = front.getMessageInfo();
    first.remove(EPaymentProcessingInfo::DialogTitle);
    EXPECT_EQ(front.getMessageInfo().size(), 3) << "each call builds a new map";
    EXPECT_EQ(front.getDialogImagePath(), ":/oxlenpay/scan_token.png");
    EXPECT_EQ(front.getDialogScanMask(), ".*");
}

TEST(FrontWithoutClient, AnswersAFailureInsteadOfCrashing)
{
    testsupport::LogCapture log;
    oxlenpay::OxlenPay front{utils::ForMock{}};
    PaymentProcessingRequest request;
    request.type = PaymentProcessingRequest::Sale;
    const tr::Tr noClient("oxlenPayNoClient", "Платежный модуль не настроен");
    EXPECT_EQ(front.payment(request).getMessage(), noClient);
    EXPECT_FALSE(front.payment(request).isSuccess());
    EXPECT_EQ(front.cancel(request).getMessage(), noClient);
    request.type = PaymentProcessingRequest::Refund;
    EXPECT_EQ(front.payment(request).getMessage(), noClient);
    log.clear();
    EXPECT_FALSE(front.sendEnqueuedMessage({{"messagetype", "sendofddata"}}));
    EXPECT_EQ(log.of("oxlenpay"), QStringList({"INFO Отправка сообщения из очереди",
                                               "ERROR Платежный модуль не настроен"}));
}

TEST(CreateAnswer, CopiesTheResult)
{
    Interface::RequestResult failed;
    failed.success = false;
    failed.errorCode = 7;
    failed.message = tr::Tr("k", "t");
    const PaymentProcessingAnswer answer = oxlenpay::createAnswer(failed, {{"a", 1}});
    EXPECT_FALSE(answer.isSuccess());
    EXPECT_EQ(answer.getCode(), 7);
    EXPECT_EQ(answer.getMessage(), tr::Tr("k", "t"));
    EXPECT_EQ(answer.getPaymentMethod(), 2);
    EXPECT_EQ(answer.getAdditionalInfo(), QVariantMap({{"a", 1}}));
    EXPECT_TRUE(answer.getRRN().isNull());
}

TEST(FrontConstruction, DefaultConstructorReadsTheConfiguration)
{
    delete Singleton<Config>::instance;
    Singleton<Config>::instance = nullptr;
    oxlenpay::OxlenPay front;
    EXPECT_NE(Singleton<Config>::instance, nullptr) << "the client's init() ran";
    EXPECT_TRUE(front.isPaymentEnable(PaymentProcessingRequest::Refund));
    EXPECT_EQ(front.qt_metacast("BasicPaymentProcessing"),
              static_cast<void*>(static_cast<BasicPaymentProcessing*>(&front)));
    EXPECT_EQ(front.qt_metacast(nullptr), nullptr);
    EXPECT_EQ(QString(front.metaObject()->className()), "oxlenpay::OxlenPay");
    EXPECT_EQ(front.metaObject()->superClass(), &QObject::staticMetaObject);
}

} // namespace
