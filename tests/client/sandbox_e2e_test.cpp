// The client over the real RestClient against the sandbox on loopback.
#include "clientfixture.h"
#include "sandboxfixture.h"

#include "paymentprocessingrequest.h"

#include <QJsonArray>

namespace {

using namespace testsupport;

class ClientOverHttps : public ClientFixture {
protected:
    void SetUp() override
    {
        ClientFixture::SetUp();
        MockFactory<RestClient>::creator = std::bind(&MockFactory<RestClient>::defaultCreator);
        makeClient("[OxlenPay]\nhost = " + sandbox.rootUrl().toUtf8() +
                   "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
                   "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
                   "frequency = 20\npayDuration = 2000\ntimeout = 3000\n");
    }

    QJsonObject payment()
    {
        return sandbox.api().ledgerJson().value("payments").toArray().first().toObject();
    }

    RunningSandbox sandbox;
};

TEST_F(ClientOverHttps, SaleSettlesPartialRefundAndFiscalLink)
{
    PaymentProcessingRequest sale;
    sale.type = PaymentProcessingRequest::Sale;
    sale.sum = 1500;
    sale.token = "settle-2";
    const auto paid = client.payment(sale);
    ASSERT_TRUE(paid.success) << paid.message.ru().toStdString();
    EXPECT_EQ(payment().value("polls").toInt(), 2);
    EXPECT_EQ(payment().value("payment_status").toString(), "SUCCESS");
    EXPECT_EQ(paid.getRrn(), payment().value("payment_id").toString());
    EXPECT_FALSE(paid.getPhone().isEmpty());

    EXPECT_TRUE(client.sendOfdData(paid.getRrn(), "https://ofd.example/receipt?id=1"));
    EXPECT_EQ(payment().value("fiscal_url").toString(), "https://ofd.example/receipt?id=1");

    PaymentProcessingRequest refund;
    refund.rrn = paid.getRrn();
    refund.sum = 400;
    refund.originalSum = 1500;
    const auto partial = client.partialReversal(refund);
    EXPECT_TRUE(partial.success) << partial.message.ru().toStdString();
    EXPECT_EQ(payment().value("rest").toInt(), 1100);

    refund.sum = 5000;
    const auto tooMuch = client.partialReversal(refund);
    EXPECT_FALSE(tooMuch.success);
    EXPECT_EQ(tooMuch.errorCode, 1011);
}

TEST_F(ClientOverHttps, DeclinedSaleIsAFailure)
{
    PaymentProcessingRequest sale;
    sale.sum = 700;
    sale.token = "decline";
    const auto result = client.payment(sale);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.getPaymentStatus(), "FAILED");
    EXPECT_FALSE(result.getRrn().isEmpty());
}

} // namespace
