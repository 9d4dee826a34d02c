// The wait for a final status and the close-out of a sale left open, in virtual time.
#include "clientfixture.h"

#include "lastoperation.h"

#include "paymentprocessingrequest.h"

#include <optional>

namespace {

using namespace testsupport;
using oxlenpay::Interface;

bool isPath(const SentRequest& sent, const char* suffix)
{
    return sent.url.path().endsWith(suffix);
}

int countPath(const ScriptedTransport& transport, const char* suffix)
{
    int n = 0;
    for (const SentRequest& sent : transport.sent()) {
        n += isPath(sent, suffix) ? 1 : 0;
    }
    return n;
}

/// The provider of one sale: its own answer, the status polls (the last repeating)
/// and the answer to a close-out reversal.
struct ProviderScript {
    ScriptedReply payment;
    QList<ScriptedReply> polls{ScriptedReply::json(answer("PENDING"))};
    ScriptedReply reversal = ScriptedReply::json(answer("REVERSED"));
};

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

    void play(ProviderScript script)
    {
        transport.respond([script](const SentRequest& sent) mutable {
            if (isPath(sent, "/payment/status")) {
                return script.polls.size() > 1 ? script.polls.takeFirst() : script.polls.first();
            }
            return isPath(sent, "/payment/reversal") ? script.reversal : script.payment;
        });
    }

    void playPayment(const QJsonObject& first, const QList<QJsonObject>& statuses)
    {
        ProviderScript script{ScriptedReply::json(first), {}};
        for (const QJsonObject& status : statuses) {
            script.polls << ScriptedReply::json(status);
        }
        play(script);
    }

    int polls() const { return countPath(transport, "/payment/status"); }
    int reversals() const { return countPath(transport, "/payment/reversal"); }

    PaymentProcessingRequest request;
};

TEST_F(PollingTest, SettlesAfterPollsAtTheConfiguredPeriod)
{
    playPayment(answer("PENDING"), {answer("PENDING"), answer("PENDING"), answer("SUCCESS")});
    const auto result = client.payment(request);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.getRrn(), "pay-1");
    EXPECT_EQ(result.getPhone(), "+77010000001");
    ASSERT_EQ(polls(), 3);
    const auto& sent = transport.sent();
    EXPECT_EQ(VirtualClock::msBetween(sent[0].at, sent[1].at), 0)
        << "the first poll follows at once";
    EXPECT_EQ(VirtualClock::msBetween(sent[1].at, sent[2].at), 20);
    EXPECT_EQ(VirtualClock::msBetween(sent[2].at, sent[3].at), 20);
    for (int i = 1; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].body, QJsonObject({{"service_id", 5001}, {"payment_id", "pay-1"}}));
        EXPECT_EQ(sent[i].operation, 2);
        EXPECT_EQ(sent[i].url.path(), "/api/quindo-pay/merchant/payment/status");
    }
    EXPECT_EQ(log.of("oxlenpay"), QStringList{"INFO Ожидание статуса 'SUCCESS'"});
}

TEST_F(PollingTest, AwaitedStatusInTheFirstAnswer)
{
    playPayment(answer("SUCCESS"), {answer("PENDING")});
    EXPECT_TRUE(client.payment(request).success);
    EXPECT_EQ(polls(), 0);

    log.clear();
    playPayment(answer("SUCCESS", ""), {answer("PENDING")});
    const auto withoutId = client.payment(request);
    EXPECT_FALSE(withoutId.success);
    EXPECT_EQ(withoutId.message.key(), "requestIncorrectAnswer");
    EXPECT_EQ(polls(), 0);
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

QJsonObject withMember(QJsonObject object, const QString& key, const QJsonValue& value)
{
    object.insert(key, value);
    return object;
}

const tr::Tr TimeoutText("restClientTimeout", "Превышено время ожидания ответа сервера");

/// One way a sale's wait can end. Period 20 ms, limit 100 ms: polls at 0, 20, ..., 100 ms.
struct SaleCase {
    const char* name;
    ProviderScript script;
    bool success;
    const char* key; // "" for none
    int polls;
    int reversals;
    const char* rrn;
    int reverseUnknown = 1;
};

const SaleCase SaleCases[] = {
    {"settles after a failed poll",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::lost(), ScriptedReply::json(answer("SUCCESS"))}},
     true,
     "",
     2,
     0,
     "pay-1"},
    {"declined in a poll",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(
          withMember(answer("FAILED"), "error_message", "Клиент отклонил оплату"))}},
     false,
     "undefined",
     1,
     0,
     "pay-1"},
    {"declined in the payment's own answer",
     {ScriptedReply::json(answer("FAILED")), {ScriptedReply::json(answer("SUCCESS"))}},
     false,
     "requestStatusFailed",
     0,
     0,
     "pay-1"},
    {"an answer neither final nor naming a payment",
     {ScriptedReply::json(answer("PENDING", "")), {ScriptedReply::json(answer("SUCCESS"))}},
     false,
     "requestIncorrectAnswer",
     0,
     0,
     ""},
    {"a poll reports success without the payment id",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(answer("PENDING")), ScriptedReply::json(answer("SUCCESS", ""))}},
     true,
     "",
     2,
     0,
     "pay-1"},
    {"a poll about another payment settles nothing",
     {ScriptedReply::json(answer("PENDING")), {ScriptedReply::json(answer("SUCCESS", "pay-2"))}},
     false,
     "paymentReversed",
     6,
     1,
     "pay-1"},
    {"a poll with the awaited status and an error code settles nothing",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(withMember(answer("SUCCESS"), "error_code", 3001))}},
     false,
     "paymentReversed",
     6,
     1,
     "pay-1"},
    {"status texts are compared exactly",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(answer("success")), ScriptedReply::json(answer("Success")),
       ScriptedReply::json(answer("SUCCESS "))}},
     false,
     "paymentReversed",
     6,
     1,
     "pay-1"},
    {"pending until the limit is reversed",
     {ScriptedReply::json(answer("PENDING"))},
     false,
     "paymentReversed",
     6,
     1,
     "pay-1"},
    {"polls that keep failing keep the payment id and are reversed",
     {ScriptedReply::json(answer("PENDING")), {ScriptedReply::failure(TimeoutText)}},
     false,
     "paymentReversed",
     6,
     1,
     "pay-1"},
    {"a refused close-out leaves the outcome unknown",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(answer("PENDING"))},
      ScriptedReply::json({{"error_code", 1012}, {"error_message", "wrong state"}})},
     false,
     "paymentCloseOutFailed",
     6,
     1,
     "pay-1"},
    {"a close-out whose answer is lost polls the payment",
     {ScriptedReply::json(answer("PENDING")),
      {ScriptedReply::json(answer("PENDING")), ScriptedReply::json(answer("PENDING")),
       ScriptedReply::json(answer("PENDING")), ScriptedReply::json(answer("PENDING")),
       ScriptedReply::json(answer("PENDING")), ScriptedReply::json(answer("PENDING")),
       ScriptedReply::json(answer("REVERSED"))},
      ScriptedReply::lost()},
     false,
     "paymentReversed",
     7,
     1,
     "pay-1"},
    {"no close-out when it is turned off",
     {ScriptedReply::json(answer("PENDING"))},
     false,
     "requestStatusTimeout",
     6,
     0,
     "pay-1",
     0},
    {"polls that keep failing without a close-out keep the last failure's message",
     {ScriptedReply::json(answer("PENDING")), {ScriptedReply::failure(TimeoutText)}},
     false,
     "restClientTimeout",
     6,
     0,
     "pay-1",
     0},
    {"a last poll whose answer was lost without a close-out is an incorrect answer",
     {ScriptedReply::json(answer("PENDING")), {ScriptedReply::lost()}},
     false,
     "requestIncorrectAnswer",
     6,
     0,
     "pay-1",
     0},
};

TEST_F(PollingTest, HowASaleEnds)
{
    for (const SaleCase& c : SaleCases) {
        SCOPED_TRACE(c.name);
        makeClient(QByteArray("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 20\n"
                              "payDuration = 100\nreverseUnknown = ") +
                   QByteArray::number(c.reverseUnknown) + "\n");
        const int sentBefore = transport.sent().size();
        const int pollsBefore = polls();
        const int reversalsBefore = reversals();
        play(c.script);

        const auto result = client.payment(request);
        EXPECT_EQ(result.success, c.success);
        EXPECT_EQ(result.message.key(), c.key);
        expectRussian(result.message, "pay-1");
        EXPECT_EQ(result.getRrn(), c.rrn);
        EXPECT_EQ(polls() - pollsBefore, c.polls);
        EXPECT_EQ(reversals() - reversalsBefore, c.reversals);
        for (int i = sentBefore; i < transport.sent().size(); ++i) {
            if (!isPath(transport.sent()[i], "/payment")) {
                EXPECT_EQ(transport.sent()[i].body.value("payment_id"), "pay-1");
            }
        }
        if (c.success) {
            EXPECT_EQ(result.getPaymentStatus(), "SUCCESS");
        } else if (QString(c.key) == "paymentReversed") {
            EXPECT_EQ(log.of("oxlenpay").last(), "INFO Оплата pay-1 отменена");
        } else {
            EXPECT_TRUE(log.of("oxlenpay").last().startsWith("ERROR"))
                << log.of("oxlenpay").last().toStdString();
        }
        log.clear();
    }
}

TEST_F(PollingTest, AFailedCloseOutWithoutAJournalSaysAPersonChecksThePayment)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 20\npayDuration = 100\n"
               "journal =\n");
    play({ScriptedReply::json(answer("PENDING")),
          {ScriptedReply::json(answer("PENDING"))},
          ScriptedReply::json({{"error_code", 1012}, {"error_message", "wrong state"}})});
    const auto result = client.payment(request);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message.key(), "paymentCloseOutFailedNoJournal");
    EXPECT_STREQ(oxlenpay::LastOperation::settlementName(client.lastOperation().settlement),
                 "unknown")
        << "nothing will cancel it by itself";
}

TEST_F(PollingTest, CloseOutIsLoggedAndNamesThePayment)
{
    play({ScriptedReply::json(answer("PENDING"))});
    const auto reversed = client.payment(request);
    EXPECT_EQ(reversed.message,
              tr::Tr("paymentReversed", "Оплата не была подтверждена вовремя и отменена, деньги "
                                        "клиенту возвращены"));
    EXPECT_EQ(reversed.getPhone(), "+77010000001") << "the sale's answer still reaches the host";
    const QStringList lines = log.of("oxlenpay");
    EXPECT_TRUE(lines.contains("INFO Оплата pay-1 не подтверждена: отправляется ее полная отмена"))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), "INFO Оплата pay-1 отменена");
    EXPECT_EQ(transport.sent().last().body,
              QJsonObject({{"service_id", 5001}, {"payment_id", "pay-1"}}));

    ProviderScript refused{ScriptedReply::json(answer("PENDING"))};
    refused.reversal = ScriptedReply::failure(TimeoutText);
    play(refused);
    const auto unknown = client.payment(request);
    EXPECT_EQ(unknown.message.key(), "paymentCloseOutFailed");
    EXPECT_TRUE(unknown.message.ru().contains("товар не выдавайте"));
    EXPECT_TRUE(unknown.message.ru().contains("pay-1")) << unknown.message.ru().toStdString();
}

TEST_F(PollingTest, CloseOutIsBoundedByAMinute)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 1000\npayDuration = 600000\n");
    ProviderScript script{ScriptedReply::json(answer("PENDING"))};
    script.reversal = ScriptedReply::json(answer("PENDING"));
    play(script);
    const auto result = client.payment(request);
    EXPECT_EQ(result.message.key(), "paymentCloseOutFailed");
    // 601 polls of the sale (0 to 600 s), then 61 of the close-out (0 to 60 s).
    EXPECT_EQ(polls(), 601 + 61);
    EXPECT_EQ(clock.elapsedMs(), 660000);
}

TEST_F(PollingTest, LimitsAndPeriodsAtTheirEdges)
{
    struct Edge {
        const char* settings;
        int polls;
    };
    // Each exchange takes 1 ms of virtual time here, so back-to-back polls still end.
    transport.script({});
    const Edge edges[] = {
        {"frequency = 20\npayDuration = 0\n", 1},
        {"frequency = 20\npayDuration = -5\n", 1},
        {"frequency = 0\npayDuration = 30\n", 30},
        {"frequency = -5\npayDuration = 30\n", 30},
    };
    for (const Edge& edge : edges) {
        SCOPED_TRACE(edge.settings);
        makeClient(QByteArray("[OxlenPay]\nmerchantServiceId = 5001\nreverseUnknown = 0\n") +
                   edge.settings);
        const int before = polls();
        transport.respond([this](const SentRequest& sent) {
            clock.advance(std::chrono::milliseconds(1));
            return ScriptedReply::json(answer(isPath(sent, "/payment/status") ? "PENDING" : "NEW"));
        });
        EXPECT_FALSE(client.payment(request).success);
        EXPECT_EQ(polls() - before, edge.polls);
    }
    EXPECT_EQ(client.frequency, 0) << "a negative period counts as none";
}

TEST_F(PollingTest, TestOnlyTimingsAreWarnedAboutOnce)
{
    struct Timing {
        const char* settings;
        const char* warning; // "" for none
    };
    const Timing timings[] = {
        {"", ""},
        {"frequency = 500\npayDuration = 500\n", ""},
        {"frequency = 499\n", "OxlenPay:frequency = 499"},
        {"frequency = -5\n", "OxlenPay:frequency = -5"},
        {"frequency = 2000\npayDuration = 1000\n", "OxlenPay:payDuration = 1000"},
        {"frequency = 20\npayDuration = 10\n",
         "OxlenPay:frequency = 20, OxlenPay:payDuration = 10"},
    };
    for (const Timing& timing : timings) {
        SCOPED_TRACE(timing.settings);
        writeConfig(QByteArray("[OxlenPay]\n") + timing.settings);
        log.clear();
        client.init();
        const QStringList expected =
            QString(timing.warning).isEmpty()
                ? QStringList()
                : QStringList{QString("WARN Настройки годятся только для тестов: ") +
                              timing.warning};
        EXPECT_EQ(log.of("oxlenpay"), expected);
    }
}

} // namespace
