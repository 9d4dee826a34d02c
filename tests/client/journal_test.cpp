// The client's payment journal: written before a request leaves, closed with what the
// host gets, refused when it cannot be written, and recovered after a crash.
#include "clientfixture.h"

#include "journal.h"
#include "paymentprocessingrequest.h"
#include "processidentity.h"

#include <QJsonArray>

#include <functional>

namespace {

using namespace testsupport;
using oxlenpay::Journal;
using oxlenpay::JournalEntry;
using State = JournalEntry::State;
using Operation = JournalEntry::Operation;

class JournalTest : public ClientFixture {
protected:
    void SetUp() override
    {
        ClientFixture::SetUp();
        makeClient();
        request.sum = 1500;
        request.originalSum = 1500;
        request.currencyCode = 398;
        request.token = "token-1";
        request.rrn = "pay-1";
    }

    static QString journalPath() { return Config::relocated(oxlenpay::settings::DefaultJournal); }

    static QVector<JournalEntry> rows()
    {
        Journal journal;
        QVector<JournalEntry> entries;
        EXPECT_TRUE(journal.open(journalPath()) && journal.entries(&entries, false))
            << journal.errorString().toStdString();
        return entries;
    }

    /// An open entry of a process that is gone.
    static void seed(Operation operation, const QString& paymentId, State state = State::Waiting)
    {
        Journal journal;
        ASSERT_TRUE(journal.open(journalPath())) << journal.errorString().toStdString();
        JournalEntry entry;
        entry.id = QString("seeded-%1").arg(++seeded);
        entry.operation = operation;
        entry.amount = 1500;
        entry.currency = 398;
        entry.paymentId = paymentId;
        entry.state = state;
        ASSERT_TRUE(journal.record(&entry));
    }

    int sentTo(const QString& suffix) const
    {
        int count = 0;
        for (const SentRequest& sent : transport.sent()) {
            count += sent.url.path().endsWith(suffix);
        }
        return count;
    }

    /// Answers by path: a status poll, a reversal, or anything else.
    void answerByPath(const QJsonObject& status, const QJsonObject& reversal,
                      const QJsonObject& other = answer("SUCCESS"))
    {
        transport.respond([=](const SentRequest& sent) {
            const QString path = sent.url.path();
            return ScriptedReply::json(path.endsWith("/payment/status")     ? status
                                       : path.endsWith("/payment/reversal") ? reversal
                                                                            : other);
        });
    }

    static inline int seeded = 0;
    PaymentProcessingRequest request;
};

TEST_F(JournalTest, EveryClosedEntryAgreesWithTheResult)
{
    using Call = std::function<bool(TestInterface&, const PaymentProcessingRequest&)>;
    const Call sale = [](TestInterface& c, const PaymentProcessingRequest& r) {
        return c.payment(r).success;
    };
    const Call partial = [](TestInterface& c, const PaymentProcessingRequest& r) {
        return c.partialReversal(r).success;
    };
    const Call fiscal = [](TestInterface& c, const PaymentProcessingRequest& r) {
        return c.sendOfdData(r.rrn, "https://ofd.example/r?1");
    };
    const Call reversal = [](TestInterface& c, const PaymentProcessingRequest& r) {
        return c.reversal(r).success;
    };
    const ScriptedReply refused = ScriptedReply::failure(tr::Tr("networkError", "refused"));
    struct Case {
        const char* name;
        Call call;
        Operation operation;
        QList<ScriptedReply> replies;
        State state;
        QString key;
        QString paymentId;
    };
    // The payment's own answer and six polls still pending, then what the close-out gets.
    auto pendingThen = [](const ScriptedReply& closeOut) {
        QList<ScriptedReply> replies;
        for (int i = 0; i < 7; ++i) {
            replies << ScriptedReply::json(answer("PENDING"));
        }
        return replies << closeOut;
    };
    const auto json = [](const QJsonObject& object) { return ScriptedReply::json(object); };
    const QJsonObject providerError{{"error_code", 2001}, {"error_message", "no money"}};
    // clang-format off
    const QList<Case> cases = {
        {"a sale that settles", sale, Operation::Sale,
         {json(answer("PENDING")), json(answer("SUCCESS"))}, State::Done, "", "pay-1"},
        {"a sale declined at a poll", sale, Operation::Sale,
         {json(answer("PENDING")), json(answer("FAILED"))}, State::Declined,
         "requestStatusFailed", "pay-1"},
        {"a sale the provider refuses", sale, Operation::Sale, {json(providerError)},
         State::Declined, "undefined", ""},
        {"a sale never sent", sale, Operation::Sale, {refused}, State::Declined, "networkError",
         ""},
        {"a sale whose answer is lost", sale, Operation::Sale, {ScriptedReply::lost()},
         State::Unknown, "requestUploadedButAborted", ""},
        {"a sale pending to the end, closed out", sale, Operation::Sale,
         pendingThen(json(answer("REVERSED"))), State::Reversed, "paymentReversed", "pay-1"},
        {"a sale whose close-out is refused", sale, Operation::Sale,
         pendingThen(json(providerError)), State::Unknown, "requestOutcomeUnknown", "pay-1"},
        {"a full reversal", reversal, Operation::Reversal, {json(answer("REVERSED"))},
         State::Done, "", "pay-1"},
        {"a partial reversal whose answer is lost", partial, Operation::PartialReversal,
         {ScriptedReply::lost()}, State::Unknown, "requestOutcomeUnknown", "pay-1"},
        {"a fiscal link confirmed", fiscal, Operation::Fiscal, {json(answer("SUCCESS"))},
         State::Done, "", "pay-1"},
        {"a fiscal link without its own answer", fiscal, Operation::Fiscal,
         {ScriptedReply::lost()}, State::Declined, "fiscalNotConfirmed", "pay-1"},
    };
    // clang-format on
    int written = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // What the journal holds while the operation's own request leaves.
        QString stateWhenSent;
        QList<ScriptedReply> replies = c.replies;
        const int before = transport.sent().size();
        transport.respond([&](const SentRequest&) {
            if (transport.sent().size() == before + 1) {
                stateWhenSent = JournalEntry::stateName(rows().first().state);
            }
            return replies.size() > 1 ? replies.takeFirst() : replies.first();
        });
        const bool success = c.call(client, request);
        const QVector<JournalEntry> entries = rows();
        ASSERT_EQ(entries.size(), ++written);
        const JournalEntry& entry = entries.first();
        EXPECT_EQ(stateWhenSent, "sending");
        EXPECT_EQ(entry.operation, c.operation);
        EXPECT_EQ(JournalEntry::stateName(entry.state), JournalEntry::stateName(c.state));
        EXPECT_EQ(entry.messageKey, c.key);
        EXPECT_EQ(success, c.state == State::Done);
        EXPECT_EQ(entry.paymentId, c.paymentId);
        if (c.operation == Operation::Sale) {
            EXPECT_EQ(entry.id, transport.sent()[before].body.value("transaction_id").toString());
            EXPECT_EQ(entry.amount, 1500);
            EXPECT_EQ(entry.currency, 398);
        }
    }
}

TEST_F(JournalTest, NothingIsSentWhenTheJournalCannotBeWritten)
{
    struct Case {
        const char* name;
        std::function<QString(const QString& root)> prepare; // returns the configured path
        QString reason;
    };
    const QList<Case> cases = {
        {"a missing directory", [](const QString&) { return "/none/j.sqlite"; },
         "cannot open the file"},
        {"a directory", [](const QString&) { return "/"; }, "cannot"},
        {"a file that is not a database",
         [](const QString& root) {
             QFile file(root + "/garbage.sqlite");
             file.open(QIODevice::WriteOnly);
             file.write(QByteArray(8192, 'x'));
             return "/garbage.sqlite";
         },
         "file is not a database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString configured = c.prepare(root.path());
        const QString path = Config::relocated(configured);
        makeClient("[OxlenPay]\nmerchantServiceId = 5001\njournal = " + configured.toUtf8() + "\n");
        transport.script({ScriptedReply::json(answer("SUCCESS"))});
        const auto result = client.payment(request);
        EXPECT_FALSE(client.sendOfdData("pay-1", "https://ofd.example/r?1"));
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.message.key(), "journalUnavailable");
        EXPECT_TRUE(result.message.ru().contains(path));
        EXPECT_TRUE(transport.sent().isEmpty());
        const QStringList lines = log.of("oxlenpay");
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.first().startsWith("ERROR Журнал платежей " + path + " недоступен"))
            << lines.first().toStdString();
        EXPECT_TRUE(lines.first().contains(c.reason)) << lines.first().toStdString();
    }
}

TEST_F(JournalTest, AnEmptyPathTurnsTheJournalOffWithOneWarning)
{
    writeConfig("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 500\njournal =\n");
    log.clear();
    client.init();
    EXPECT_EQ(log.of("oxlenpay").size(), 1);
    EXPECT_TRUE(log.of("oxlenpay").value(0).startsWith("WARN Журнал платежей отключен"));
    transport.script({ScriptedReply::json(answer("SUCCESS"))});
    EXPECT_TRUE(client.payment(request).success);
    EXPECT_FALSE(QFile::exists(journalPath()));
}

TEST_F(JournalTest, RecoveryFinishesWhatAGoneProcessLeftOpen)
{
    const QJsonObject refusal{{"error_code", 1012}, {"error_message", "not allowed"}};
    struct Case {
        const char* name;
        Operation operation;
        QString paymentId;
        QJsonObject status;   // what a status request answers
        QJsonObject reversal; // what a reversal answers
        State state;
        QString key;
        int statusRequests;
        int reversals;
    };
    const QJsonObject none;
    // clang-format off
    const QList<Case> cases = {
        {"a charged sale is reversed", Operation::Sale, "pay-1", answer("SUCCESS"),
         answer("REVERSED"), State::Reversed, "paymentReversed", 1, 1},
        {"a pending sale is reversed", Operation::Sale, "pay-1", answer("PENDING"),
         answer("REVERSED"), State::Reversed, "paymentReversed", 1, 1},
        {"a sale whose reversal is refused", Operation::Sale, "pay-1", answer("SUCCESS"), refusal,
         State::Unknown, "requestOutcomeUnknown", 1, 1},
        {"a declined sale", Operation::Sale, "pay-1", answer("FAILED"), none, State::Declined,
         "requestStatusFailed", 1, 0},
        {"a sale already reversed", Operation::Sale, "pay-1", answer("REVERSED"), none,
         State::Reversed, "paymentReversed", 1, 0},
        {"a sale without a payment id", Operation::Sale, "", none, none, State::Unknown,
         "requestOutcomeUnknown", 0, 0},
        {"a sale the provider does not know", Operation::Sale, "pay-1", refusal, none,
         State::Unknown, "requestOutcomeUnknown", 1, 0},
        {"a full reversal that went through", Operation::Reversal, "pay-1", answer("REVERSED"),
         none, State::Done, "", 1, 0},
        {"a full reversal not seen", Operation::Reversal, "pay-1", answer("SUCCESS"), none,
         State::Unknown, "requestOutcomeUnknown", 1, 0},
        {"a partial reversal", Operation::PartialReversal, "pay-1", answer("PARTIAL_CANCELLED"),
         none, State::Unknown, "requestOutcomeUnknown", 1, 0},
        {"a partial reversal of a failed sale", Operation::PartialReversal, "pay-1",
         answer("FAILED"), none, State::Declined, "requestStatusFailed", 1, 0},
        {"a fiscal link", Operation::Fiscal, "pay-1", none, none, State::Declined,
         "fiscalNotConfirmed", 0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seed(c.operation, c.paymentId);
        answerByPath(c.status, c.reversal);
        const int sentBefore = transport.sent().size();
        const int statusBefore = sentTo("/payment/status");
        const int reversalsBefore = sentTo("/payment/reversal");
        QVector<oxlenpay::Interface::RecoveredEntry> recovered;
        QString error;
        ASSERT_TRUE(client.recoverJournal(&recovered, &error)) << error.toStdString();
        ASSERT_EQ(recovered.size(), 1);
        EXPECT_EQ(JournalEntry::stateName(recovered[0].after.state),
                  JournalEntry::stateName(c.state));
        EXPECT_EQ(recovered[0].after.messageKey, c.key);
        EXPECT_EQ(JournalEntry::stateName(rows().first().state), JournalEntry::stateName(c.state));
        EXPECT_EQ(sentTo("/payment/status") - statusBefore, c.statusRequests);
        EXPECT_EQ(sentTo("/payment/reversal") - reversalsBefore, c.reversals);
        EXPECT_EQ(transport.sent().size() - sentBefore, c.statusRequests + c.reversals);
    }
}

TEST_F(JournalTest, RecoveryLeavesOpenWhatItCannotFinish)
{
    // A row of this very process, and one whose status cannot be had.
    Journal journal;
    ASSERT_TRUE(journal.open(journalPath()));
    JournalEntry mine;
    mine.id = "running-here";
    mine.paymentId = "pay-9";
    mine.ownerPid = oxlenpay::ProcessIdentity::current().pid;
    mine.ownerStart = oxlenpay::ProcessIdentity::current().startTicks;
    ASSERT_TRUE(journal.record(&mine));
    seed(Operation::Sale, "pay-1");
    transport.script({ScriptedReply::failure(tr::Tr("networkError", "refused"))});

    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    ASSERT_TRUE(client.recoverJournal(&recovered, &error));
    ASSERT_EQ(recovered.size(), 2);
    EXPECT_TRUE(recovered[0].note.contains("still runs")); // the oldest first
    EXPECT_TRUE(recovered[1].after.isOpen());
    EXPECT_TRUE(recovered[1].note.contains("no status from the provider"));
    EXPECT_EQ(transport.sent().size(), 1); // only the gone process's row was looked up
    QVector<JournalEntry> open;
    ASSERT_TRUE(journal.entries(&open, true));
    EXPECT_EQ(open.size(), 2);
}

TEST_F(JournalTest, RecoveryIsBoundedForAllEntries)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 1000\npayDuration = 600000\n");
    for (int i = 0; i < 3; ++i) {
        seed(Operation::Sale, "pay-1");
    }
    answerByPath(answer("PENDING"), answer("PROCESSING"));
    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    ASSERT_TRUE(client.recoverJournal(&recovered, &error));
    ASSERT_EQ(recovered.size(), 3);
    EXPECT_EQ(clock.elapsedMs(), 30000);
    // The first reversal is polled at 0, 1, ... 30 s; the time is then up for the others.
    EXPECT_EQ(sentTo("/payment/status"), 1 + 31);
    EXPECT_EQ(sentTo("/payment/reversal"), 1);
    EXPECT_TRUE(recovered[0].note.contains("did not settle"));
    EXPECT_TRUE(recovered[1].note.contains("time for recovery is up"));
    EXPECT_TRUE(recovered[2].note.contains("time for recovery is up"));
    EXPECT_EQ(rows().size(), 3);
    for (const JournalEntry& row : rows()) {
        EXPECT_TRUE(row.isOpen());
    }
}

TEST_F(JournalTest, TheFirstMoneyOperationRecoversOnceBeforeItIsSent)
{
    seed(Operation::Sale, "pay-old");
    answerByPath(answer("SUCCESS", "pay-old"), answer("REVERSED", "pay-old"),
                 answer("SUCCESS", "pay-new"));
    EXPECT_TRUE(client.payment(request).success);
    seed(Operation::Sale, "pay-old");
    EXPECT_TRUE(client.payment(request).success);

    QStringList paths;
    for (const SentRequest& sent : transport.sent()) {
        paths << sent.url.path().section("/merchant", 1);
    }
    EXPECT_EQ(paths, QStringList({"/payment/status", "/payment/reversal", "/payment", "/payment"}));
    const QStringList lines = log.of("oxlenpay").filter("Журнал: sale seeded-");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains("платеж pay-old: waiting -> reversed paymentReversed"));
}

} // namespace
