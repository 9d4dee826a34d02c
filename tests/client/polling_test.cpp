#include "clientfixture.h"

#include "paymentprocessingrequest.h"

namespace {

using namespace testsupport;
using oxlenpay::Interface;
using std::chrono::milliseconds;

constexpr int StatusOperation = 2;

class PollingTest : public ClientFixture {
protected:
    void SetUp() override
    {
        ClientFixture::SetUp();
        makeClient();
        request.type = PaymentProcessingRequest::Sale;
        request.sum = 1500;
        request.token = "token-1";
    }

    // The payment is answered with `first`; status polls with `statuses`, the last repeating.
    void scriptPayment(const QJsonObject& first, QList<QJsonObject> statuses)
    {
        transport.respond([=](const SentRequest& sent) mutable {
            if (sent.operation == 4) {
                return ScriptedReply::json(first);
            }
            const QJsonObject next = statuses.size() > 1 ? statuses.takeFirst() : statuses.first();
            return ScriptedReply::json(next);
        });
    }

    qint64 gap(int i) const
    {
        return std::chrono::duration_cast<milliseconds>(transport.sent()[i].at -
                                                        transport.sent()[i - 1].at)
            .count();
    }

    PaymentProcessingRequest request;
};

TEST_F(PollingTest, SettlesAfterPollsAtTheConfiguredPeriod)
{
    scriptPayment(answer("PENDING"), {answer("PENDING"), answer("PENDING"), answer("SUCCESS")});
    const auto result = client.payment(request);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.getRrn(), "pay-1");
    EXPECT_EQ(result.getPhone(), "+77010000001");
    ASSERT_EQ(transport.count(StatusOperation), 3);
    EXPECT_LT(gap(1), 15) << "the first poll follows at once";
    EXPECT_GE(gap(2), 19);
    EXPECT_GE(gap(3), 19);
    for (int i = 1; i < transport.sent().size(); ++i) {
        EXPECT_EQ(transport.sent()[i].body,
                  QJsonObject({{"service_id", 5001}, {"payment_id", "pay-1"}}));
        EXPECT_EQ(transport.sent()[i].url.path(), "/api/quindo-pay/merchant/payment/status");
    }
    EXPECT_EQ(log.of("oxlenpay"), QStringList{"INFO Ожидание статуса 'SUCCESS'"});
}

TEST_F(PollingTest, AwaitedStatusInTheFirstAnswer)
{
    scriptPayment(answer("SUCCESS"), {answer("PENDING")});
    EXPECT_TRUE(client.payment(request).success);
    EXPECT_EQ(transport.count(StatusOperation), 0);

    log.clear();
    scriptPayment(answer("SUCCESS", ""), {answer("PENDING")});
    const auto withoutId = client.payment(request);
    EXPECT_FALSE(withoutId.success);
    EXPECT_EQ(withoutId.message.key(), "requestIncorrectAnswer");
    EXPECT_EQ(transport.count(StatusOperation), 0);
    EXPECT_EQ(log.of("oxlenpay"), QStringList({"INFO Ожидание статуса 'SUCCESS'",
                                               "ERROR Некорректный ответ от сервера"}));
}

TEST_F(PollingTest, FailedFirstResultIsReturnedUnchanged)
{
    transport.script({ScriptedReply::lost()});
    const auto result = client.payment(request);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message.key(), "requestUploadedButAborted");
    EXPECT_EQ(transport.sent().size(), 1);
    EXPECT_EQ(log.of("oxlenpay"),
              QStringList({"WARN Данные переданы на сервер, но ответ не был получен",
                           "INFO Ожидание статуса 'SUCCESS'"}));
}

TEST_F(PollingTest, NeverSettlingEndsAtTheLimitAsAFailure)
{
    // Period 20 ms, limit 100 ms: polls at 0, 20, ..., 100 ms.
    scriptPayment(answer("PENDING"), {answer("PENDING")});
    const auto start = std::chrono::steady_clock::now();
    const auto result = client.payment(request);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(transport.count(StatusOperation), 6);
    EXPECT_GE(took, milliseconds(100));
    EXPECT_LT(took, milliseconds(400));
    EXPECT_FALSE(result.success) << "a payment still pending is not a success";
    EXPECT_EQ(result.message,
              tr::Tr("requestStatusTimeout", "Истекло время ожидания подтверждения операции"));
    EXPECT_EQ(result.getRrn(), "pay-1") << "the host still learns the payment id";
    EXPECT_EQ(log.of("oxlenpay").last(), "ERROR Истекло время ожидания подтверждения операции");
}

TEST_F(PollingTest, FailedStatusEndsTheWaitAsAFailure)
{
    QJsonObject declined = answer("FAILED");
    declined["error_message"] = "Клиент отклонил оплату";
    scriptPayment(answer("PENDING"), {declined, answer("SUCCESS")});
    const auto result = client.payment(request);
    EXPECT_EQ(transport.count(StatusOperation), 1);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorCode, 0);
    EXPECT_EQ(result.message, tr::Tr("undefined", "Клиент отклонил оплату"));
    EXPECT_EQ(result.getRrn(), "pay-1");
    EXPECT_EQ(result.getPhone(), "+77010000001");
    EXPECT_EQ(log.of("oxlenpay").last(), "ERROR Клиент отклонил оплату");

    scriptPayment(answer("PENDING"), {answer("FAILED")});
    const auto silent = client.payment(request);
    EXPECT_EQ(silent.message,
              tr::Tr("requestStatusFailed", "Операция отклонена платежной системой"));
}

TEST_F(PollingTest, StatusTextsAreComparedExactly)
{
    scriptPayment(answer("PENDING"), {answer("success"), answer("Success"), answer("SUCCESS ")});
    const auto result = client.payment(request);
    EXPECT_EQ(transport.count(StatusOperation), 6);
    EXPECT_FALSE(result.success);
}

TEST_F(PollingTest, ZeroLimitPollsOnce)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 20\npayDuration = 0\n");
    scriptPayment(answer("PENDING"), {answer("PENDING")});
    EXPECT_FALSE(client.payment(request).success);
    EXPECT_EQ(transport.count(StatusOperation), 1);

    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 20\npayDuration = -5\n");
    EXPECT_FALSE(client.payment(request).success);
    EXPECT_EQ(transport.count(StatusOperation), 2);
}

TEST_F(PollingTest, ZeroPeriodPollsBackToBack)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 0\npayDuration = 30\n");
    scriptPayment(answer("PENDING"), {answer("PENDING")});
    const auto start = std::chrono::steady_clock::now();
    client.payment(request);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(200));
    EXPECT_GT(transport.count(StatusOperation), 10);
}

TEST_F(PollingTest, StatusRequestsThatKeepFailing)
{
    const tr::Tr text("restClientTimeout", "Превышено время ожидания ответа сервера");
    transport.respond([&](const SentRequest& sent) {
        return sent.operation == 4 ? ScriptedReply::json(answer("PENDING"))
                                   : ScriptedReply::failure(text);
    });
    const auto result = client.payment(request);
    EXPECT_EQ(transport.count(StatusOperation), 6) << "a failed poll does not end the wait";
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, text);
    EXPECT_EQ(log.of("oxlenpay").last(), "ERROR Превышено время ожидания ответа сервера");
}

TEST_F(PollingTest, FailureThenSuccessSettles)
{
    int polls = 0;
    transport.respond([&](const SentRequest& sent) {
        if (sent.operation == 4) {
            return ScriptedReply::json(answer("PENDING"));
        }
        return ++polls == 1 ? ScriptedReply::lost() : ScriptedReply::json(answer("SUCCESS"));
    });
    EXPECT_TRUE(client.payment(request).success);
    EXPECT_EQ(polls, 2);
}

} // namespace
