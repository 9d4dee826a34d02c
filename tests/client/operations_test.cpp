#include "clientfixture.h"

#include "lastoperation.h"
#include "paymentprocessingrequest.h"

namespace {

using namespace testsupport;
using oxlenpay::Interface;

class OperationsTest : public ClientFixture {
protected:
    void SetUp() override
    {
        ClientFixture::SetUp();
        makeClient();
        request.rrn = "pay-1";
        request.sum = 500;
        request.originalSum = 1500;
        request.token = "token-1";
    }
    PaymentProcessingRequest request;
};

TEST_F(OperationsTest, PaymentBodyWithAFreshTransactionId)
{
    transport.script({ScriptedReply::json(answer("SUCCESS"))});
    request.sum = 1500;
    client.payment(request);
    client.payment(request);
    ASSERT_EQ(transport.sent().size(), 2);
    const QJsonObject body = transport.sent()[0].body;
    EXPECT_EQ(body.keys(),
              QStringList({"amount", "cashbox_code", "otp_data", "service_id", "transaction_id"}));
    EXPECT_TRUE(body.value("amount").isDouble());
    EXPECT_EQ(body.value("amount").toInt(), 1500);
    EXPECT_EQ(body.value("service_id").toInt(), 5001);
    EXPECT_EQ(body.value("otp_data").toString(), "token-1");
    EXPECT_EQ(body.value("cashbox_code").toString(), "till-01");
    EXPECT_EQ(body.value("transaction_id").toString().size(), 36);
    EXPECT_NE(body.value("transaction_id"), transport.sent()[1].body.value("transaction_id"));
    EXPECT_EQ(transport.sent()[0].url.path(), "/api/quindo-pay/merchant/payment");
}

TEST_F(OperationsTest, FullReversal)
{
    transport.script({ScriptedReply::json(answer("REVERSED"))});
    const auto result = client.reversal(request);
    EXPECT_TRUE(result.success);
    ASSERT_EQ(transport.sent().size(), 1);
    EXPECT_EQ(transport.sent()[0].body,
              QJsonObject({{"service_id", 5001}, {"payment_id", "pay-1"}}));
    EXPECT_EQ(transport.sent()[0].url.path(), "/api/quindo-pay/merchant/payment/reversal");
    EXPECT_EQ(transport.sent()[0].operation, 4);
    EXPECT_EQ(log.of("oxlenpay"),
              QStringList({"INFO Полный возврат", "INFO Ожидание статуса 'REVERSED'"}));
}

TEST_F(OperationsTest, PartialReversalWaitsForItsOwnStatus)
{
    transport.script({ScriptedReply::json(answer("PROCESSING")),
                      ScriptedReply::json(answer("REVERSED")),
                      ScriptedReply::json(answer("PARTIAL_CANCELLED"))});
    const auto result = client.partialReversal(request);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.getPaymentStatus(), "PARTIAL_CANCELLED");
    ASSERT_EQ(transport.sent().size(), 3) << "REVERSED does not end a partial reversal's wait";
    EXPECT_EQ(transport.sent()[0].body, QJsonObject({{"payment_id", "pay-1"}, {"amount", 500}}));
    EXPECT_FALSE(transport.sent()[0].body.contains("service_id"));
    EXPECT_EQ(transport.sent()[0].url.path(), "/api/quindo-pay/merchant/partial/reversal");
    EXPECT_EQ(log.of("oxlenpay").first(), "INFO Частичный возврат");
}

TEST_F(OperationsTest, EmptyRrnIsSentAsItIs)
{
    request.rrn.clear();
    transport.script({ScriptedReply::json(answer("REVERSED", ""))});
    EXPECT_FALSE(client.reversal(request).success) << "no payment id in the answer";
    EXPECT_EQ(transport.sent()[0].body.value("payment_id").toString(), "");
}

TEST_F(OperationsTest, LostReversalAnswerPollsThePaymentItIsAbout)
{
    transport.script({ScriptedReply::lost(), ScriptedReply::json(answer("PENDING")),
                      ScriptedReply::json(answer("REVERSED"))});
    const auto result = client.reversal(request);
    EXPECT_TRUE(result.success);
    ASSERT_EQ(transport.sent().size(), 3);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(transport.sent()[i].body,
                  QJsonObject({{"service_id", 5001}, {"payment_id", "pay-1"}}));
    }
}

TEST_F(OperationsTest, PartialReversalWithoutItsOwnAnswerIsUnknown)
{
    // After an earlier partial refund the payment's status already reads
    // "PARTIAL_CANCELLED": polling it could report a refused refund as done.
    const QList<ScriptedReply> unanswered = {ScriptedReply::lost(),
                                             ScriptedReply::json(answer("PROCESSING", ""))};
    for (const ScriptedReply& first : unanswered) {
        transport.script({first, ScriptedReply::json(answer("PARTIAL_CANCELLED"))});
        const int before = transport.sent().size();
        log.clear();
        const auto result = client.partialReversal(request);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.message.key(), "partialReversalOutcomeUnknown");
        EXPECT_TRUE(result.message.ru().contains("pay-1"));
        expectRussian(result.message, "pay-1");
        EXPECT_EQ(result.getRrn(), "pay-1");
        EXPECT_EQ(transport.sent().size(), before + 1) << "no status request";
        EXPECT_EQ(log.of("oxlenpay").last(), "ERROR " + result.message.ru());
    }
}

TEST_F(OperationsTest, FiscalLink)
{
    transport.script({ScriptedReply::json(answer("SUCCESS"))});
    EXPECT_TRUE(client.sendOfdData("pay-1", "https://ofd.example/r?1"));
    EXPECT_EQ(transport.sent()[0].body,
              QJsonObject({{"payment_id", "pay-1"}, {"fiscal_url", "https://ofd.example/r?1"}}));
    EXPECT_EQ(transport.sent()[0].url.path(), "/api/quindo-pay/merchant/payment/fiscal");
    EXPECT_EQ(log.of("oxlenpay"), QStringList{"INFO Ожидание статуса 'SUCCESS'"});
}

TEST_F(OperationsTest, FiscalRefusals)
{
    QJsonObject refused{{"error_code", 1009}, {"error_message", "payment not found"}};
    transport.script({ScriptedReply::json(refused)});
    EXPECT_FALSE(client.sendOfdData("pay-1", "url"));
    EXPECT_EQ(transport.sent().size(), 1) << "no status request after a refusal";
    EXPECT_EQ(log.of("oxlenpay").first(),
              "ERROR Сервер вернул сообщение об ошибке: payment not found");

    transport.script({ScriptedReply::json(answer("SUCCESS", ""))});
    EXPECT_FALSE(client.sendOfdData("pay-1", "url"));
    EXPECT_EQ(transport.sent().size(), 2);

    // A settled sale's status is "SUCCESS" too: only the fiscal answer confirms the link.
    transport.script({ScriptedReply::lost(), ScriptedReply::json(answer("SUCCESS"))});
    log.clear();
    EXPECT_FALSE(client.sendOfdData("pay-7", "url"));
    EXPECT_EQ(transport.sent().size(), 3) << "no status request after a lost answer";
    EXPECT_EQ(log.of("oxlenpay").last(),
              "ERROR Передача фискальной ссылки по платежу pay-7 не подтверждена");

    // An answer about another payment confirms nothing, and is not polled.
    transport.script({ScriptedReply::json(answer("SUCCESS", "pay-other"))});
    EXPECT_FALSE(client.sendOfdData("pay-7", "url"));
    EXPECT_EQ(transport.sent().size(), 4);
}

TEST_F(OperationsTest, AUserIdThatWouldEndItsHeaderSendsNothing)
{
    for (const QString& userId : {QString("user\r\nX-Injected: 1"), QString("user\n"),
                                  QString("user\x7f"), QString("user") + QChar(0x85)}) {
        SCOPED_TRACE(userId.toStdString());
        client.merchantServiceUserId = userId;
        const int sentBefore = transport.sent().size();
        const Interface::RequestResult sale = client.payment(request);
        EXPECT_FALSE(sale.success);
        EXPECT_EQ(sale.message.key(), "settingsInvalidHeader");
        QVector<Interface::RecoveredEntry> recovered;
        QString error;
        EXPECT_FALSE(client.recoverJournal(&recovered, &error));
        EXPECT_EQ(transport.sent().size(), sentBefore) << "nothing left the till";
        EXPECT_FALSE(QFile::exists(journalFile())) << "no journal row";
    }
}

// A host's double of waitForStatus decides an operation's own wait: its result is read by
// its fields alone, like any answer.
class WaitDouble : public TestInterface {
public:
    Interface::RequestResult waitForStatus(const QString& status,
                                           const Interface::RequestResult& first) const override
    {
        ++calls;
        asked = status;
        return decide ? decide(first) : first;
    }
    std::function<Interface::RequestResult(const Interface::RequestResult&)> decide;
    mutable int calls = 0;
    mutable QString asked;
};

TEST_F(OperationsTest, AnOverriddenWaitForStatusDecidesTheOperationsOwnWait)
{
    struct Case {
        const char* name;
        std::function<Interface::RequestResult(const Interface::RequestResult&)> decide;
        bool success;
        const char* settlement;
        int reversals;
    };
    const auto approved = [](const Interface::RequestResult& first) {
        Interface::RequestResult result = first;
        result.data = answer("SUCCESS");
        return result;
    };
    const auto timedOut = [](const Interface::RequestResult& first) {
        Interface::RequestResult result = first;
        result.success = false;
        result.message =
            tr::Tr("requestStatusTimeout", "Истекло время ожидания подтверждения операции");
        return result;
    };
    const QList<Case> cases = {
        {"the double's approval", approved, true, "approved", 0},
        {"the double's time-out closes the sale out", timedOut, false, "reversed", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WaitDouble host;
        host.init();
        host.decide = c.decide;
        transport.respond([](const SentRequest& sent) {
            return ScriptedReply::json(
                answer(sent.url.path().endsWith("/payment/reversal") ? "REVERSED" : "PENDING"));
        });
        const int sentBefore = transport.sent().size();
        const Interface::RequestResult result = host.payment(request);
        EXPECT_EQ(result.success, c.success);
        EXPECT_EQ(host.calls, 1);
        EXPECT_EQ(host.asked, "SUCCESS");
        int reversals = 0, polls = 0;
        for (int i = sentBefore; i < transport.sent().size(); ++i) {
            reversals += transport.sent()[i].url.path().endsWith("/payment/reversal");
            polls += transport.sent()[i].url.path().endsWith("/payment/status");
        }
        EXPECT_EQ(reversals, c.reversals);
        EXPECT_EQ(polls, 0) << "the double's wait is the only one";
        EXPECT_EQ(oxlenpay::LastOperation::settlementName(host.lastOperation().settlement),
                  QString(c.settlement));
    }
}

} // namespace
