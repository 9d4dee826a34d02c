#include "clientfixture.h"

#include "paymentprocessingrequest.h"

namespace {

using namespace testsupport;

class SettingsTest : public ClientFixture {};

TEST_F(SettingsTest, DefaultsWithoutAnyConfiguration)
{
    TestInterface fresh;
    EXPECT_EQ(fresh.timeout, 10000);
    EXPECT_EQ(fresh.payDuration, 300000);
    EXPECT_EQ(fresh.frequency, 10000);
    EXPECT_EQ(fresh.getMerchantServiceId(), "0");
    fresh.init();
    EXPECT_EQ(fresh.timeout, 10000);
    EXPECT_EQ(fresh.payDuration, 300000);
    EXPECT_EQ(fresh.frequency, 10000);
    EXPECT_TRUE(fresh.merchantId.isEmpty());
    EXPECT_EQ(fresh.merchantServiceId, 0);
    EXPECT_EQ(fresh.getMerchantServiceId(), "0");
    EXPECT_EQ(fresh.getPaymentProvider(), 161);
    EXPECT_EQ(fresh.reverseUnknown, 1) << "an open sale is closed out unless turned off";
    EXPECT_EQ(fresh.getUrl(oxlenpay::Interface::Payment).toString(),
              "https://api.oxlenpay.example/api/quindo-pay/merchant/payment");
}

TEST_F(SettingsTest, ReadsEveryKey)
{
    makeClient("[OxlenPay]\ntimeout = 1500\npayDuration = 60000\nfrequency = 2500\n"
               "merchantId = till-9\nmerchantServiceId = 12345678901\n"
               "merchantServiceUserId = user\nmerchantSecretKey = key\npaymentProvider = 7\n");
    EXPECT_EQ(client.timeout, 1500);
    EXPECT_EQ(client.payDuration, 60000);
    EXPECT_EQ(client.frequency, 2500);
    EXPECT_EQ(client.merchantId, "till-9");
    EXPECT_EQ(client.merchantServiceId, 12345678901LL) << "beyond 32 bits, stored exactly";
    EXPECT_EQ(client.getMerchantServiceId(), "12345678901");
    EXPECT_EQ(client.merchantServiceUserId, "user");
    EXPECT_EQ(client.merchantSecretKey, "key");
    EXPECT_EQ(client.getPaymentProvider(), 7);
}

TEST_F(SettingsTest, ServiceIdOfLettersIsZero)
{
    makeClient("[OxlenPay]\nmerchantServiceId = abc\n");
    EXPECT_EQ(client.merchantServiceId, 0);
    makeClient("[OxlenPay]\nmerchantServiceId = 12abc\n");
    EXPECT_EQ(client.merchantServiceId, 0);
}

TEST_F(SettingsTest, ProviderCodeIsReadAtEveryCallTimeoutOnlyByInit)
{
    makeClient("[OxlenPay]\npaymentProvider = 161\ntimeout = 1000\n");
    EXPECT_EQ(client.getPaymentProvider(), 161);
    writeConfig("[OxlenPay]\npaymentProvider = 200\ntimeout = 2000\n");
    EXPECT_EQ(client.getPaymentProvider(), 200);
    EXPECT_EQ(client.timeout, 1000);

    transport.script({ScriptedReply::json(answer("SUCCESS"))});
    client.sendRequest(oxlenpay::Interface::PaymentStatus, {});
    EXPECT_EQ(transport.sent().last().timeout, 1000) << "the REST client gets the stored time-out";
    client.init();
    EXPECT_EQ(client.timeout, 2000);
}

TEST_F(SettingsTest, ExistingConfigurationServiceIsUsed)
{
    auto* hostConfig = new Config;
    Singleton<Config>::instance = hostConfig;
    makeClient("[OxlenPay]\nmerchantId = from-host\n");
    EXPECT_EQ(Singleton<Config>::instance, hostConfig);
    EXPECT_EQ(client.merchantId, "from-host");
}

} // namespace
