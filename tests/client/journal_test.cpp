// The client's payment journal: written before a request leaves, closed with what the
// host gets, refused when it cannot be written, and recovered after a crash.
#include "clientfixture.h"

#include "journal.h"
#include "messages.h"
#include "paymentprocessingrequest.h"

#include <QJsonArray>

#include <sqlite3.h>

#include <algorithm>
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

    QString journalPath() const { return journalFile(); }

    QVector<JournalEntry> rows() const
    {
        Journal journal;
        QVector<JournalEntry> entries;
        EXPECT_TRUE(journal.open(journalPath()) && journal.entries(&entries, false))
            << journal.errorString().toStdString();
        return entries;
    }

    /// A row of a till that is gone: written by a handle that is closed again.
    QString seed(Operation operation, const QString& paymentId, State state = State::Waiting,
                 qint64 ageMs = 0)
    {
        Journal journal;
        EXPECT_TRUE(journal.open(journalPath())) << journal.errorString().toStdString();
        JournalEntry entry;
        entry.id = QString("seeded-%1").arg(++seeded);
        entry.operation = operation;
        entry.amount = 1500;
        entry.currency = 398;
        entry.paymentId = paymentId;
        entry.state = state;
        if (ageMs > 0) {
            entry.created = Journal::wallClock().addMSecs(-ageMs);
        }
        EXPECT_TRUE(journal.record(&entry));
        return entry.id;
    }

    JournalEntry row(const QString& id) const
    {
        for (const JournalEntry& entry : rows()) {
            if (entry.id == id) {
                return entry;
            }
        }
        ADD_FAILURE() << "no row " << id.toStdString();
        return {};
    }

    /// Settles a row that a case left for a person, so the next case finds only its own.
    void closeByHand(const QString& id)
    {
        Journal journal;
        ASSERT_TRUE(journal.open(journalPath()));
        JournalEntry entry = row(id);
        if (!entry.isSettled() && journal.claim(&entry, State::Attention)) {
            EXPECT_TRUE(journal.resolve(id, "checked"));
        }
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
        int failingWrites = 0; // from the moment the request leaves
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
        {"a sale never sent", sale, Operation::Sale, {refused}, State::Declined, "transportFailed",
         ""},
        {"a sale whose answer is lost", sale, Operation::Sale, {ScriptedReply::lost()},
         State::Attention, "requestUploadedButAborted", ""},
        {"a sale whose payment id would steer a terminal", sale, Operation::Sale,
         {json(answer("SUCCESS", "pay-1\x1b[2J\u202e"))}, State::Attention,
         "requestIncorrectAnswer", ""},
        {"a sale pending to the end, closed out", sale, Operation::Sale,
         pendingThen(json(answer("REVERSED"))), State::Reversed, "paymentReversed", "pay-1"},
        {"a sale whose close-out is refused", sale, Operation::Sale,
         pendingThen(json(providerError)), State::Unknown, "paymentCloseOutFailed", "pay-1"},
        {"a full reversal", reversal, Operation::Reversal, {json(answer("REVERSED"))},
         State::Done, "", "pay-1"},
        {"a partial reversal whose answer is lost", partial, Operation::PartialReversal,
         {ScriptedReply::lost()}, State::Attention, "partialReversalOutcomeUnknown", "pay-1"},
        {"a partial reversal answered for another payment", partial, Operation::PartialReversal,
         {json(answer("PARTIAL_CANCELLED", "pay-2"))}, State::Attention, "requestIncorrectAnswer",
         "pay-1"},
        {"a full reversal answered for another payment", reversal, Operation::Reversal,
         {json(answer("REVERSED", "pay-2"))}, State::Unknown, "requestIncorrectAnswer", "pay-1"},
        {"an approved sale whose close cannot be written is reversed", sale, Operation::Sale,
         {json(answer("SUCCESS")), json(answer("REVERSED"))}, State::Reversed,
         "paymentNotRecordedReversed", "pay-1", 1},
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
                Journal::failingWrites = c.failingWrites;
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
        // Timed from start to the host's answer; the first answer only when one came.
        EXPECT_GE(entry.durationMs(), 0);
        const bool answered = c.replies.first().error == 0 &&
                              !c.replies.first().uploadedButAborted &&
                              c.key != "requestIncorrectAnswer"; // an answer about another
        if (answered) {
            EXPECT_TRUE(entry.created <= entry.firstAnswer && entry.firstAnswer <= entry.ended);
        }
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
        {"a directory", [](const QString&) { return "/"; }, "is not a regular file"},
        {"a file that is not a database",
         [](const QString& root) {
             QFile file(root + "/garbage.sqlite");
             file.open(QIODevice::WriteOnly);
             file.write(QByteArray(8192, 'x'));
             return root + "/garbage.sqlite";
         },
         "file is not a database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString configured = c.prepare(root.path());
        const QString path = configured; // used as written
        makeClient("[OxlenPay]\nmerchantServiceId = 5001\njournal = " + configured.toUtf8() + "\n");
        transport.script({ScriptedReply::json(answer("SUCCESS"))});
        const auto result = client.payment(request);
        EXPECT_FALSE(client.sendOfdData("pay-1", "https://ofd.example/r?1"));
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.message.key(), "journalUnavailable");
        EXPECT_FALSE(result.message.ru().contains(path))
            << "the path is for the log, not the cashier";
        expectRussian(result.message, QString());
        EXPECT_TRUE(transport.sent().isEmpty());
        const QStringList lines = log.of("oxlenpay");
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.first().startsWith("ERROR Журнал платежей " + path + " недоступен"))
            << lines.first().toStdString();
        EXPECT_TRUE(lines.first().contains(c.reason)) << lines.first().toStdString();
    }
}

TEST_F(JournalTest, AHeldLockDelaysTheApprovalButABrokenDiskDoesNot)
{
    // Another process holds the journal's write lock from the moment the sale's answer comes:
    // released after 12 s the sale is approved late; held on, it is reversed after 30 s.
    for (const bool releasedInTime : {true, false}) {
        SCOPED_TRACE(releasedInTime ? "released after 12 s" : "held on");
        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open(journalPath().toUtf8().constData(), &holder), SQLITE_OK);
        const qint64 start = clock.elapsedMs();
        transport.respond([&](const SentRequest& sent) {
            if (sent.url.path().endsWith("/payment")) {
                sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
                return ScriptedReply::json(answer("SUCCESS"));
            }
            return ScriptedReply::json(answer("REVERSED"));
        });
        oxlenpay::WaitClock::waitUntil = [&](std::unique_lock<std::mutex>&,
                                             std::condition_variable&,
                                             oxlenpay::WaitClock::TimePoint deadline) {
            clock.advance(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - oxlenpay::WaitClock::now()));
            if (releasedInTime && clock.elapsedMs() - start >= 12000) {
                sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
            }
        };
        const auto result = client.payment(request);
        const qint64 took = clock.elapsedMs() - start;
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        if (releasedInTime) {
            EXPECT_TRUE(result.success);
            EXPECT_EQ(rows().first().state, State::Done);
            EXPECT_GE(took, 12000);
            EXPECT_LT(took, 20000);
        } else {
            EXPECT_FALSE(result.success);
            EXPECT_EQ(oxlenpay::messages::keyOf(result), "paymentNotRecordedReversed");
            EXPECT_GE(took, 30000);
        }
    }
    // A broken disk: closed out at the first failure, at once.
    transport.respond([&](const SentRequest& sent) {
        if (sent.url.path().endsWith("/payment")) {
            Journal::failingWrites = 1;
            return ScriptedReply::json(answer("SUCCESS"));
        }
        return ScriptedReply::json(answer("REVERSED"));
    });
    const qint64 start = clock.elapsedMs();
    EXPECT_EQ(oxlenpay::messages::keyOf(client.payment(request)), "paymentNotRecordedReversed");
    EXPECT_LT(clock.elapsedMs() - start, 1000);
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

TEST_F(JournalTest, RecoveryWorksOnEveryRowThatIsNotSettled)
{
    const QJsonObject refusal{{"error_code", 1012}, {"error_message", "not allowed"}};
    struct Case {
        const char* name;
        Operation operation;
        QString paymentId;
        State seeded;
        QJsonObject status;   // what a status request answers
        QJsonObject reversal; // what a reversal answers
        State state;
        int statusRequests;
        int reversals;
        qint64 ageMs = 0;
    };
    const QJsonObject none;
    const qint64 hour = 3600 * 1000;
    // clang-format off
    const QList<Case> cases = {
        {"a charged sale is reversed", Operation::Sale, "pay-1", State::Waiting, answer("SUCCESS"),
         answer("REVERSED"), State::Reversed, 1, 1},
        {"a pending sale is reversed", Operation::Sale, "pay-1", State::Sending, answer("PENDING"),
         answer("REVERSED"), State::Reversed, 1, 1},
        {"a failed close-out is reversed at last", Operation::Sale, "pay-1", State::Unknown,
         answer("PENDING"), answer("REVERSED"), State::Reversed, 1, 1},
        {"a reversal not confirmed yet stays recovery's work", Operation::Sale, "pay-1",
         State::Unknown, answer("SUCCESS"), answer("PROCESSING"), State::Unknown, 1, 1},
        {"a refused reversal stays recovery's work", Operation::Sale, "pay-1", State::Waiting,
         answer("SUCCESS"), refusal, State::Unknown, 1, 1},
        {"a declined sale", Operation::Sale, "pay-1", State::Waiting, answer("FAILED"), none,
         State::Declined, 1, 0},
        {"a sale already reversed", Operation::Sale, "pay-1", State::Unknown, answer("REVERSED"),
         none, State::Reversed, 1, 0},
        {"a sale left unknown by choice is only looked up", Operation::Sale, "pay-1",
         State::Attention, answer("SUCCESS"), none, State::Attention, 1, 0},
        {"a sale without a payment id needs a person", Operation::Sale, "", State::Sending, none,
         none, State::Attention, 0, 0},
        {"a refused status request stays recovery's work", Operation::Sale, "pay-1",
         State::Waiting, refusal, none, State::Unknown, 1, 0},
        {"an unknown status changes nothing", Operation::Sale, "pay-1", State::Unknown,
         answer("ON_HOLD"), none, State::Unknown, 1, 0},
        {"a full reversal that went through", Operation::Reversal, "pay-1", State::Waiting,
         answer("REVERSED"), none, State::Done, 1, 0},
        {"a full reversal the status does not show yet", Operation::Reversal, "pay-1",
         State::Unknown, answer("SUCCESS"), none, State::Unknown, 1, 0},
        {"a full reversal not carried out after an hour", Operation::Reversal, "pay-1",
         State::Unknown, answer("SUCCESS"), none, State::Declined, 1, 0, 2 * hour},
        {"a cancel after a partial refund", Operation::Reversal, "pay-1", State::Unknown,
         answer("PARTIAL_CANCELLED"), none, State::Declined, 1, 0, 2 * hour},
        {"a partial reversal is never sent again", Operation::PartialReversal, "pay-1",
         State::Waiting, answer("PARTIAL_CANCELLED"), none, State::Attention, 1, 0},
        {"a partial reversal of a failed sale", Operation::PartialReversal, "pay-1",
         State::Attention, answer("FAILED"), none, State::Declined, 1, 0},
        {"a fiscal link", Operation::Fiscal, "pay-1", State::Waiting, none, none, State::Declined,
         0, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString id = seed(c.operation, c.paymentId, c.seeded, c.ageMs);
        answerByPath(c.status, c.reversal);
        const int sentBefore = transport.sent().size();
        const int statusBefore = sentTo("/payment/status");
        const int reversalsBefore = sentTo("/payment/reversal");
        QVector<oxlenpay::Interface::RecoveredEntry> recovered;
        QString error;
        ASSERT_TRUE(client.recoverJournal(&recovered, &error)) << error.toStdString();
        const auto item = std::find_if(recovered.begin(), recovered.end(),
                                       [&](const auto& r) { return r.before.id == id; });
        ASSERT_NE(item, recovered.end());
        EXPECT_EQ(JournalEntry::stateName(item->after.state), JournalEntry::stateName(c.state));
        EXPECT_EQ(JournalEntry::stateName(row(id).state), JournalEntry::stateName(c.state));
        EXPECT_EQ(sentTo("/payment/status") - statusBefore, c.statusRequests);
        EXPECT_EQ(sentTo("/payment/reversal") - reversalsBefore, c.reversals);
        EXPECT_EQ(transport.sent().size() - sentBefore, c.statusRequests + c.reversals);
        closeByHand(id);
    }
}

TEST_F(JournalTest, RecoveryLeavesALiveTillsRowsAndWhatItCannotLookUp)
{
    // A row whose till still runs (its handle open), and one whose status cannot be had.
    Journal live;
    ASSERT_TRUE(live.open(journalPath()));
    JournalEntry running;
    running.id = "running-elsewhere";
    running.paymentId = "pay-9";
    ASSERT_TRUE(live.record(&running));
    const QString gone = seed(Operation::Sale, "pay-1");
    transport.script({ScriptedReply::failure(tr::Tr("networkError", "refused"))});

    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    ASSERT_TRUE(client.recoverJournal(&recovered, &error));
    ASSERT_EQ(recovered.size(), 2);
    EXPECT_TRUE(recovered[0].note.contains("still runs")); // the oldest first
    EXPECT_TRUE(recovered[0].after.isOpen());
    EXPECT_TRUE(recovered[1].note.contains("no status from the provider"));
    // Only the gone till's row was looked up: once as it was taken over, once more a
    // polling period later.
    EXPECT_EQ(transport.sent().size(), 2);
    EXPECT_EQ(row(gone).state, State::Unknown) << "taken over, and still recovery's work";
    EXPECT_EQ(row("running-elsewhere").state, State::Sending);
    EXPECT_FALSE(live.record(&recovered[1].after))
        << "a row taken over is no longer the old owner's";
}

TEST_F(JournalTest, RecoveryEndsByItsDeadlineWhateverTheProviderDoes)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 1000\ntimeout = 7000\n");
    for (int i = 0; i < 5; ++i) {
        seed(Operation::Sale, "pay-1");
    }
    // The provider never answers: each exchange takes its whole time-out.
    transport.respond([&](const SentRequest& sent) {
        clock.advance(std::chrono::milliseconds(sent.timeout));
        return ScriptedReply::failure(tr::Tr("restClientTimeout", "timeout"));
    });
    QVector<oxlenpay::Interface::RecoveredEntry> recovered;
    QString error;
    ASSERT_TRUE(client.recoverJournal(&recovered, &error));
    EXPECT_EQ(clock.elapsedMs(), 30000);
    QList<qint64> timeouts;
    for (const SentRequest& sent : transport.sent()) {
        timeouts << sent.timeout;
    }
    EXPECT_EQ(timeouts, QList<qint64>({7000, 7000, 7000, 7000, 2000}));
}

TEST_F(JournalTest, RecoveryRunsOnlyInTheIdleTimeOfAWait)
{
    makeClient("[OxlenPay]\nmerchantServiceId = 5001\nfrequency = 1000\npayDuration = 60000\n");
    seed(Operation::Sale, "pay-old");
    // The old payment's lookups are slow (4 s against a 10 s time-out); the new sale
    // settles at its third poll.
    int polls = 0;
    transport.respond([&](const SentRequest& sent) {
        const QString path = sent.url.path();
        if (sent.body.value("payment_id").toString() == "pay-old") {
            clock.advance(std::chrono::milliseconds(qMin<qint64>(sent.timeout, 4000)));
            return sent.timeout < 4000 ? ScriptedReply::failure(tr::Tr("restClientTimeout", "t"))
                                       : ScriptedReply::json(answer("REVERSED", "pay-old"));
        }
        if (path.endsWith("/payment/status")) {
            return ScriptedReply::json(answer(++polls == 3 ? "SUCCESS" : "PENDING", "pay-new"));
        }
        return ScriptedReply::json(answer("PENDING", "pay-new"));
    });
    EXPECT_TRUE(client.payment(request).success);

    QStringList what;
    for (const SentRequest& sent : transport.sent()) {
        what << QString("%1 %2 %3 %4")
                    .arg(VirtualClock::msBetween(transport.sent().first().at, sent.at))
                    .arg(sent.url.path().section("/merchant", 1))
                    .arg(sent.body.value("payment_id").toString())
                    .arg(sent.timeout);
    }
    // The sale's own request leaves first; the old row is looked up once, in the second
    // idle gap, its time-out cut to that gap; the polls keep their period.
    EXPECT_EQ(what,
              QStringList({"0 /payment  10000", "0 /payment/status pay-new 10000",
                           "0 /payment/status pay-old 1000", "1000 /payment/status pay-new 10000",
                           "2000 /payment/status pay-new 10000"}));
    EXPECT_EQ(row(rows().last().id).state, State::Unknown) << "left for a later gap";
}

TEST_F(JournalTest, ACancelIsJournaledWithWhatItReturns)
{
    // The sale as this journal knows it, one refund done and one declined.
    {
        Journal journal;
        ASSERT_TRUE(journal.open(journalPath()));
        const std::tuple<Operation, State, qint64> known[] = {
            {Operation::Sale, State::Done, 6000},
            {Operation::PartialReversal, State::Done, 2500},
            {Operation::PartialReversal, State::Declined, 1000}};
        for (const auto& [operation, state, amount] : known) {
            JournalEntry entry;
            entry.id = QString("known-%1").arg(++seeded);
            entry.operation = operation;
            entry.state = state;
            entry.amount = amount;
            entry.paymentId = "pay-9";
            ASSERT_TRUE(journal.record(&entry));
        }
    }
    struct Case {
        const char* paymentId;
        qint64 sum;
        bool known;
        qint64 amount;
    };
    const Case cases[] = {
        {"pay-9", 0, true, 3500},    // the sale less the refund done
        {"pay-9", 6000, true, 3500}, // whatever the host asked
        {"pay-x", 700, true, 700},   // a sale this journal never saw: the host's sum
        {"pay-y", 0, false, 0},      // and without one: unknown, never 0.00
        {"pay-z", -5, false, 0},
    };
    transport.respond([](const SentRequest& sent) {
        return ScriptedReply::json(answer("REVERSED", sent.body.value("payment_id").toString()));
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paymentId);
        request.rrn = c.paymentId;
        request.sum = c.sum;
        ASSERT_TRUE(client.reversal(request).success);
        const JournalEntry cancel = rows().first();
        EXPECT_EQ(cancel.operation, Operation::Reversal);
        EXPECT_EQ(cancel.amountKnown, c.known);
        EXPECT_EQ(cancel.amount, c.amount);
        // The request itself still carries no amount: the provider returns what is left.
        EXPECT_FALSE(transport.sent().last().body.contains("amount"));
    }
}

} // namespace
