// Interrupting a wait from another thread: in virtual time with exact counts, and
// once with real threads and the real clock.
#include "clientfixture.h"

#include "paymentprocessingrequest.h"

#include <QElapsedTimer>

#include <atomic>
#include <thread>

namespace {

using namespace testsupport;

class InterruptTest : public ClientFixture {
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

    /// Pending everywhere; the poll numbered `interruptAt` asks for the interrupt while in flight.
    void pendingWithInterruptAt(int interruptAt, const QJsonObject& reversal = answer("REVERSED"))
    {
        transport.respond([=](const SentRequest& sent) {
            const QString path = sent.url.path();
            if (path.endsWith("/payment/status")) {
                if (++polls == interruptAt) {
                    interrupted = client.interruptWait();
                }
                return ScriptedReply::json(answer("PENDING"));
            }
            if (path.endsWith("/payment/reversal")) {
                return ScriptedReply::json(reversal);
            }
            return ScriptedReply::json(answer("PENDING"));
        });
    }

    PaymentProcessingRequest request;
    int polls = 0;
    bool interrupted = false;
};

TEST_F(InterruptTest, NothingRunningNothingDone)
{
    EXPECT_FALSE(client.interruptWait());
    transport.script({ScriptedReply::json(answer("SUCCESS"))});
    EXPECT_TRUE(client.payment(request).success) << "an earlier call leaves nothing behind";
    EXPECT_FALSE(client.interruptWait());
}

TEST_F(InterruptTest, EndsEachOperationsWaitWithoutAnotherPoll)
{
    struct Case {
        const char* name;
        std::function<QString()> run; // the result's key, or "false"/"true"
        const char* key;
    };
    const Case cases[] = {
        {"sale: closed out", [this] { return client.payment(request).message.key(); },
         "paymentInterruptedReversed"},
        {"full reversal: unknown",
         [this] {
             pendingWithInterruptAt(2, answer("PENDING"));
             return client.reversal(request).message.key();
         },
         "waitInterruptedOutcomeUnknown"},
        {"partial reversal: unknown",
         [this] {
             transport.respond([this](const SentRequest& sent) {
                 if (sent.url.path().endsWith("/payment/status") && ++polls == 2) {
                     interrupted = client.interruptWait();
                 }
                 return ScriptedReply::json(answer("PROCESSING"));
             });
             return client.partialReversal(request).message.key();
         },
         "waitInterruptedOutcomeUnknown"},
        {"fiscal link: not confirmed",
         [this] { return QString(client.sendOfdData("pay-1", "url") ? "true" : "false"); },
         "false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        polls = 0;
        interrupted = false;
        pendingWithInterruptAt(2);
        const qint64 before = clock.elapsedMs();
        EXPECT_EQ(c.run(), c.key);
        EXPECT_TRUE(interrupted);
        EXPECT_EQ(polls, 2) << "the poll in flight ends, no other follows";
        EXPECT_EQ(clock.elapsedMs() - before, 20) << "no sleep after the interrupt";
        EXPECT_FALSE(client.interruptWait()) << "nothing runs any more";
    }
}

TEST_F(InterruptTest, InterruptedSaleIsReversedOnce)
{
    pendingWithInterruptAt(1);
    const auto result = client.payment(request);
    EXPECT_EQ(result.message.key(), "paymentInterruptedReversed");
    EXPECT_FALSE(result.message.ru().contains("вовремя")) << "it was interrupted, not late";
    expectRussian(result.message, "pay-1");
    EXPECT_EQ(result.getRrn(), "pay-1");
    ASSERT_EQ(transport.sent().size(), 3);
    EXPECT_TRUE(transport.sent()[2].url.path().endsWith("/payment/reversal"));

    // Turned off: nothing more is sent, and the outcome is named unknown.
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 20\npayDuration = 100\n"
               "reverseUnknown = 0\n");
    polls = 0;
    pendingWithInterruptAt(1);
    const auto open = client.payment(request);
    EXPECT_EQ(open.message.key(), "waitInterruptedOutcomeUnknown");
    expectRussian(open.message, "pay-1");
    EXPECT_TRUE(open.message.ru().contains("pay-1"));
    EXPECT_EQ(transport.sent().size(), 5);
}

TEST_F(InterruptTest, ASecondInterruptCutsTheCloseOut)
{
    transport.respond([this](const SentRequest& sent) {
        const QString path = sent.url.path();
        if (path.endsWith("/payment/status")) {
            ++polls;
            if (polls == 1 || polls == 3) { // the sale's first poll, the close-out's second
                client.interruptWait();
            }
        }
        return ScriptedReply::json(answer("PENDING"));
    });
    const auto result = client.payment(request);
    EXPECT_EQ(result.message.key(), "paymentCloseOutFailed");
    expectRussian(result.message, "pay-1");
    EXPECT_EQ(polls, 3);
}

TEST_F(InterruptTest, RealThreadEndsTheSleepAtOnce)
{
    oxlenpay::WaitClock::reset(); // real clock and real sleeping
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 10000\npayDuration = 60000\n");
    std::atomic<int> statusPolls{0};
    transport.respond([&](const SentRequest& sent) {
        if (sent.url.path().endsWith("/payment/status")) {
            ++statusPolls;
        }
        return ScriptedReply::json(
            answer(sent.url.path().endsWith("/payment/reversal") ? "REVERSED" : "PENDING"));
    });
    QElapsedTimer sinceInterrupt;
    std::atomic<bool> accepted{false};
    std::thread host([&] {
        while (statusPolls.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // well into the 10 s sleep
        sinceInterrupt.start();
        accepted = client.interruptWait();
    });
    const auto result = client.payment(request);
    const qint64 tookUs = sinceInterrupt.nsecsElapsed() / 1000;
    host.join();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(result.message.key(), "paymentInterruptedReversed");
    EXPECT_EQ(statusPolls.load(), 1);
    // The goal is well under 100 ms; the bound is generous for a loaded machine.
    EXPECT_LT(tookUs, 3000000);
    RecordProperty("interruptToAnswerUs", int(tookUs));
    std::printf("interrupt to answer, close-out included: %lld us\n",
                static_cast<long long>(tookUs));
}

} // namespace
