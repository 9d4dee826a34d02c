// Calls on one client object are not serialised by a host: a payment and a recovery run
// on two host threads, and the REST double holds each until both are inside the client.
// Under ThreadSanitizer any state the two share without a lock is reported.
#include "clientfixture.h"

#include "journal.h"
#include "paymentprocessingrequest.h"

#include <condition_variable>
#include <mutex>
#include <thread>

using oxlenpay::Journal;
using oxlenpay::JournalEntry;
using namespace testsupport;

namespace {

/// The provider, thread-safe: the sale's request and recovery's first request wait for
/// each other, so both operations are inside the client together.
struct MeetingProvider {
    std::mutex mutex;
    std::condition_variable arrived;
    bool saleInside = false;
    bool recoveryInside = false;
    bool met = false;

    QJsonObject answerTo(const QUrl& url, const QJsonObject& body)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const QString path = url.path();
        const QString paymentId = body.value("payment_id").toString();
        const bool sale = path.endsWith("/payment") && !body.contains("payment_id");
        const bool recovery = paymentId == "pay-old";
        if (sale || (recovery && !recoveryInside)) {
            (sale ? saleInside : recoveryInside) = true;
            arrived.notify_all();
            met = arrived.wait_for(lock, std::chrono::seconds(20),
                                   [&] { return saleInside && recoveryInside; });
        }
        if (sale) {
            return answer("SUCCESS", "pay-new");
        }
        return answer(path.endsWith("/payment/reversal") ? "REVERSED" : "SUCCESS", paymentId);
    }
};

class MeetingRestClient : public RestClient {
public:
    explicit MeetingRestClient(MeetingProvider* provider) : m_provider(provider) {}
    void setTimeout(qint64) override {}
    bool send(int, const QUrl& url, const QJsonDocument& body,
              const QHash<QString, QString>&) override
    {
        m_answer = QJsonDocument(m_provider->answerTo(url, body.object()));
        return true;
    }
    int error() const override { return 0; }
    bool isUploadedButAborted() const override { return false; }
    tr::Tr errorText() const override { return tr::Tr(); }
    QJsonDocument jsonAnswer() const override { return m_answer; }

private:
    MeetingProvider* m_provider;
    QJsonDocument m_answer;
};

class ConcurrencyTest : public ClientFixture {};

TEST_F(ConcurrencyTest, APaymentAndARecoveryOnOneObjectAtOnce)
{
    makeClient("[OxlenPay]\nmerchantId = till-01\nmerchantServiceId = 5001\n"
               "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
               "frequency = 20\npayDuration = 2000\n");
    oxlenpay::WaitClock::reset(); // two threads: real time
    {
        // A sale of a till that is gone, charged and never heard approved.
        Journal journal;
        ASSERT_TRUE(journal.open(journalFile()));
        JournalEntry entry;
        entry.id = "gone-till-sale";
        entry.paymentId = "pay-old";
        entry.amount = 700;
        entry.state = JournalEntry::State::Waiting;
        ASSERT_TRUE(journal.record(&entry));
    }
    MeetingProvider provider;
    MockFactory<RestClient>::creator = [&] {
        return QSharedPointer<RestClient>(new MeetingRestClient(&provider));
    };

    PaymentProcessingRequest request;
    request.sum = 1500;
    request.currencyCode = 398;
    request.token = "token-1";
    oxlenpay::Interface::RequestResult sale;
    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    bool recoveredOk = false;
    std::thread payment([&] { sale = client.payment(request); });
    std::thread recovery([&] { recoveredOk = client.recoverJournal(&recovered, &error); });
    payment.join();
    recovery.join();

    EXPECT_TRUE(provider.met) << "the two calls were never inside the client together";
    EXPECT_TRUE(sale.success) << sale.message.ru().toStdString();
    EXPECT_EQ(sale.getRrn(), "pay-new");
    ASSERT_TRUE(recoveredOk) << error.toStdString();
    ASSERT_EQ(recovered.size(), 1);
    EXPECT_EQ(recovered[0].before.id, "gone-till-sale");
    EXPECT_EQ(JournalEntry::stateName(recovered[0].after.state), "reversed");

    Journal journal;
    QVector<JournalEntry> rows;
    ASSERT_TRUE(journal.open(journalFile()) && journal.entries(&rows, false));
    for (const JournalEntry& row : rows) {
        EXPECT_TRUE(row.isSettled()) << row.id.toStdString();
    }
}

} // namespace
