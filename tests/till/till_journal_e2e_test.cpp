// The payment journal end to end: a till killed while money is in flight, and the
// next till finishing what it left open.
#include "tillfixture.h"

#include "journal.h"
#include "rawhttpserver.h"

#include <QElapsedTimer>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>

namespace {

using namespace tilltest;

class TillJournal : public TillEndToEnd {
protected:
    /// A till started with `arguments` and killed with SIGKILL once `inFlight` holds.
    static void killWhen(const QStringList& arguments, const QString& config,
                         const std::function<bool()>& inFlight)
    {
        QProcess process;
        process.start(TILL_EXECUTABLE, QStringList{"--config", config, "--ca-file",
                                                   directory->filePath("sandbox.pem")} +
                                           arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
        // Generous: a till under the sanitizers on a loaded machine starts slowly.
        ASSERT_TRUE(waitUntil(inFlight, 60000)) << "the request reached the sandbox";
        ::kill(pid_t(process.processId()), SIGKILL);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    }

    static QJsonArray journal(const QString& config, bool openOnly = false)
    {
        const TillRun run = till(openOnly ? QStringList{"journal", "--open", "--json"}
                                          : QStringList{"journal", "--json"},
                                 config);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return run.json().value("entries").toArray();
    }

    /// The newest entry's state, read straight from the file while a till writes it.
    static QString newestState(const QString& config)
    {
        oxlenpay::Journal file;
        QVector<oxlenpay::JournalEntry> entries;
        if (!file.open(journalPath(config), oxlenpay::Journal::OpenMode::ExistingOnly) ||
            !file.entries(&entries, false) || entries.isEmpty()) {
            return QString();
        }
        return oxlenpay::JournalEntry::stateName(entries.first().state);
    }

    static QJsonObject newest(const QString& config) { return journal(config).first().toObject(); }

    /// The sandbox's last merchant requests, oldest first.
    static QJsonArray requestLog()
    {
        RestClient client;
        client.setTimeout(5000);
        client.send(2, QUrl(root + "/_sandbox/requests"), QJsonDocument(), {});
        QJsonArray newestFirst = client.jsonAnswer().object().value("requests").toArray(), log;
        for (auto it = newestFirst.end(); it != newestFirst.begin();) {
            log.append(*--it);
        }
        return log;
    }

    /// Kills a till while its sale waits for the customer: a waiting row of a gone till.
    static QString deadSale(const QString& config)
    {
        const QString name = QFileInfo(config).fileName();
        killWhen({"sale", "--amount", "4.00", "--token", "pending"}, config,
                 [&] { return newestState(name) == "waiting"; });
        return newest(config).value("paymentId").toString();
    }

    static QJsonObject paymentWithTransaction(const QString& transactionId)
    {
        for (const QJsonValue& value : ledger()) {
            if (value.toObject().value("transaction_id").toString() == transactionId) {
                return value.toObject();
            }
        }
        return {};
    }
};

TEST_F(TillJournal, AKilledSaleIsReversedByTheNextTill)
{
    const QString config = writeConfig("kill.conf", "frequency = 200\npayDuration = 60000\n");
    killWhen({"sale", "--amount", "4.00", "--token", "pending"}, config,
             [&] { return newestState("kill.conf") == "waiting"; });
    const QJsonObject open = newest(config);
    EXPECT_EQ(open.value("state").toString(), "waiting");
    const QString paymentId = open.value("paymentId").toString();
    EXPECT_EQ(payment(paymentId).value("payment_status").toString(), "PENDING");

    const TillRun recovered = till({"recover", "--json"}, config);
    EXPECT_EQ(recovered.exitCode, 0) << recovered.err.toStdString();
    const QJsonObject item = recovered.json().value("entries").toArray().first().toObject();
    EXPECT_EQ(item.value("before").toString(), "waiting");
    EXPECT_EQ(item.value("after").toString(), "reversed");
    EXPECT_EQ(payment(paymentId).value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(newest(config).value("state").toString(), "reversed");
    EXPECT_EQ(newest(config).value("key").toString(), "paymentReversed");
    EXPECT_TRUE(journal(config, true).isEmpty());
    EXPECT_EQ(till({"recover"}, config).out, "==== RECOVER ===========================\n"
                                             "  nothing was left open\n");
}

TEST_F(TillJournal, AKilledPartialRefundWaitsForAPerson)
{
    const QString config =
        writeConfig("partial.conf", "frequency = 200\npayDuration = 60000\ntimeout = 10000\n");
    const QString paid = sale("instant", "15.00");
    injectFault("partial", "slow", 1); // carried out, answered seconds later
    killWhen({"refund", "--rrn", paid, "--amount", "5.00", "--original", "15.00"}, config,
             [&] { return payment(paid).value("refunded").toInt() == 500; });
    resetFaults();
    EXPECT_EQ(newest(config).value("state").toString(), "sending");

    const TillRun recovered = till({"recover"}, config);
    EXPECT_EQ(recovered.exitCode, 4) << recovered.out.toStdString();
    EXPECT_TRUE(recovered.out.contains("sending -> attention")) << recovered.out.toStdString();
    EXPECT_TRUE(recovered.out.contains(("check with the provider: payment " + paid).toUtf8()));
    const QJsonObject row = newest(config);
    EXPECT_EQ(row.value("operation").toString(), "partialReversal");
    EXPECT_EQ(row.value("state").toString(), "attention");
    EXPECT_EQ(row.value("amount").toString(), "5.00");
    EXPECT_EQ(payment(paid).value("refunded").toInt(), 500) << "nothing more was returned";
}

TEST_F(TillJournal, ASaleKilledBeforeItsAnswerNamesItsTransaction)
{
    const QString config = writeConfig("lost.conf", "timeout = 20000\n");
    const int before = ledger().size();
    killWhen({"sale", "--amount", "6.00", "--token", "slow"}, config,
             [&] { return ledger().size() > before; });
    const QJsonArray open = journal(config, true);
    ASSERT_EQ(open.size(), 1);
    const QString transactionId = open.first().toObject().value("id").toString();
    EXPECT_EQ(open.first().toObject().value("state").toString(), "sending");
    EXPECT_EQ(paymentWithTransaction(transactionId).value("amount").toInt(), 600);

    const TillRun recovered = till({"recover"}, config);
    EXPECT_EQ(recovered.exitCode, 4);
    EXPECT_TRUE(
        recovered.out.contains(("check with the provider: transaction " + transactionId).toUtf8()))
        << recovered.out.toStdString();
    // Listed for a person once recovery has named it, and never purged until one resolves it.
    EXPECT_EQ(journal(config, true).first().toObject().value("state").toString(), "attention");
    const TillRun wrong = till({"journal", "resolve", "no-such-id", "--note", "x"}, config);
    EXPECT_EQ(wrong.exitCode, 2);
    const TillRun resolved = till({"journal", "resolve", transactionId, "--note",
                                   "charged at the provider; goods handed over"},
                                  config);
    EXPECT_EQ(resolved.exitCode, 0) << resolved.err.toStdString();
    EXPECT_EQ(till({"journal", "resolve", transactionId, "--note", "again"}, config).exitCode, 2);
    const QJsonObject row = newest(config);
    EXPECT_EQ(row.value("state").toString(), "resolved");
    EXPECT_EQ(row.value("note").toString(), "charged at the provider; goods handed over");
    EXPECT_FALSE(row.value("resolved").toString().isEmpty());
    EXPECT_TRUE(till({"journal"}, config).out.contains("goods handed over"));
    EXPECT_EQ(till({"recover"}, config).exitCode, 0);
}

TEST_F(TillJournal, NothingIsSentWithoutAJournal)
{
    const QString config = writeConfig(
        "nojournal.conf", "journal = " + directory->filePath("no/such/j.sqlite").toUtf8());
    const QJsonObject before = stats();
    const TillRun run = till({"--json", "sale", "--amount", "1.00", "--token", "instant"}, config);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.json().value("message").toObject().value("key").toString(), "journalUnavailable");
    EXPECT_TRUE(run.err.contains("no/such/j.sqlite")) << run.err.toStdString();
    EXPECT_EQ(stats(), before) << "the sandbox saw nothing";
    EXPECT_EQ(till({"journal"}, config).exitCode, 5) << "the journal cannot be read";
}

TEST_F(TillJournal, EveryClosedEntryAgreesWithWhatTheTillWasTold)
{
    const QString config = writeConfig("agree.conf", "payDuration = 200\ntimeout = 1500\n");
    const QStringList tokens = {"settle-1", "instant", "decline", "failed",   "error",
                                "pending",  "lost",    "slow",    "not-json", "array",
                                "empty",    "no-id",   "huge",    "http-500", "gateway"};
    const QHash<QString, QStringList> statesOf = {{"approved", {"done"}},
                                                  {"declined", {"declined", "reversed"}},
                                                  {"unknown", {"unknown", "attention"}}};
    for (const QString& token : tokens) {
        SCOPED_TRACE(token.toStdString());
        const TillRun run = till({"--json", "sale", "--amount", "2.50", "--token", token}, config);
        const QJsonObject told = run.json();
        const QJsonObject row = newest(config);
        EXPECT_TRUE(statesOf.value(told.value("outcome").toString())
                        .contains(row.value("state").toString()))
            << told.value("outcome").toString().toStdString() << " / "
            << row.value("state").toString().toStdString();
        EXPECT_EQ(row.value("key").toString(),
                  told.value("message").toObject().value("key").toString());
        EXPECT_EQ(row.value("amount").toString(), "2.50");
        const QString rrn = told.value("additionalInfo").toObject().value("rrn").toString();
        EXPECT_EQ(row.value("paymentId").toString(), rrn);
        if (!rrn.isEmpty()) {
            EXPECT_EQ(payment(rrn).value("transaction_id").toString(), row.value("id").toString());
        }
    }
    EXPECT_EQ(journal(config, true).size(), 9)
        << "the lost, slow, oversized, not-JSON, array, empty, id-less and two 5xx sales are "
           "unknown: each reached the provider and its answer could not be read";

    // Nothing secret is written down: neither the scanned token nor the signing key.
    EXPECT_EQ(till({"sale", "--amount", "1.00", "--token", "instant-wallet-7731"}, config).exitCode,
              0);
    QByteArray stored;
    for (const char* suffix : {"", "-wal"}) {
        QFile file(journalPath("agree.conf") + suffix);
        if (file.open(QIODevice::ReadOnly)) {
            stored += file.readAll();
        }
    }
    EXPECT_FALSE(stored.isEmpty());
    EXPECT_FALSE(stored.contains("wallet-7731"));
    EXPECT_FALSE(stored.contains("sandbox-secret"));
}

TEST_F(TillJournal, AFailedCloseOutIsFinishedByRecover)
{
    const QString config = writeConfig("closeout.conf", "payDuration = 300\n");
    injectFault("reversal", "http-500", -1);
    const TillRun sale = till({"--json", "sale", "--amount", "3.00", "--token", "pending"}, config);
    resetFaults();
    EXPECT_EQ(sale.exitCode, 4) << sale.out.toStdString();
    const QString paymentId = sale.json().value("paymentId").toString();
    EXPECT_FALSE(sale.json().value("transactionId").toString().isEmpty());
    EXPECT_EQ(payment(paymentId).value("payment_status").toString(), "PENDING");
    EXPECT_EQ(newest(config).value("state").toString(), "unknown");

    const TillRun recovered = till({"recover"}, config);
    EXPECT_EQ(recovered.exitCode, 0) << recovered.out.toStdString();
    EXPECT_EQ(payment(paymentId).value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(newest(config).value("state").toString(), "reversed");
}

TEST_F(TillJournal, ThreeRecoveriesAtOnceSendOneReversalPerPayment)
{
    const QString config =
        writeConfig("race.conf", "frequency = 200\npayDuration = 60000\ntimeout = 10000\n");
    QStringList payments;
    for (int i = 0; i < 3; ++i) {
        payments << deadSale(config);
    }
    QList<QProcess*> recoveries;
    for (int i = 0; i < 3; ++i) {
        recoveries << new QProcess;
        recoveries.last()->start(TILL_EXECUTABLE, {"--config", config, "--ca-file",
                                                   directory->filePath("sandbox.pem"), "recover"});
    }
    for (QProcess* process : recoveries) {
        EXPECT_TRUE(process->waitForFinished(60000));
        delete process;
    }
    for (const QString& id : payments) {
        int reversals = 0;
        for (const QJsonValue& request : requestLog()) {
            reversals +=
                request.toObject().value("path").toString().endsWith("/payment/reversal") &&
                request.toObject().value("payment_id").toString() == id;
        }
        EXPECT_EQ(reversals, 1) << id.toStdString();
        EXPECT_EQ(payment(id).value("payment_status").toString(), "REVERSED");
    }
    EXPECT_TRUE(journal(config, true).isEmpty());
}

TEST_F(TillJournal, ANewSaleLeavesAtOnceAfterACrashWithSlowLookups)
{
    // Lookups slower than the time-out; polls a second apart leave idle time for recovery.
    const QString config =
        writeConfig("slow.conf", "frequency = 1000\npayDuration = 60000\ntimeout = 3000\n");
    const QString dead = deadSale(config);
    injectFault("status", "slow", -1, 0);
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(TILL_EXECUTABLE,
                  {"--config", config, "--ca-file", directory->filePath("sandbox.pem"), "--json",
                   "sale", "--amount", "2.00", "--token", "settle-2"});
    const int before = ledger().size();
    ASSERT_TRUE(waitUntil([&] { return ledger().size() > before; }));
    const qint64 requestAfterMs = timer.elapsed();
    resetFaults();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    // The sale's request left before any lookup: generous, as the machine may be loaded.
    EXPECT_LT(requestAfterMs, 2500);
    std::printf("the new sale's request left %lld ms after the till started\n",
                static_cast<long long>(requestAfterMs));
    EXPECT_NE(payment(dead).value("payment_status").toString(), "") << "the dead sale is kept";
}

TEST_F(TillJournal, AFullDiskNeverEndsInApprovedMoneyReversedLater)
{
    const QString mountPoint = directory->filePath("full");
    QDir().mkpath(mountPoint);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint}) != 0) {
        GTEST_SKIP() << "no small tmpfs can be mounted here";
    }
    const QString journalFile = mountPoint + "/journal.sqlite";
    const QString config = writeConfig("full.conf", "frequency = 300\npayDuration = 60000\n");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("journal = " + journalFile.toUtf8() + "\n"); // the last one wins
    file.close();
    QProcess process;
    process.start(TILL_EXECUTABLE,
                  {"--config", config, "--ca-file", directory->filePath("sandbox.pem"), "--json",
                   "sale", "--amount", "7.00", "--token", "settle-4"});
    // Filled once the answer named the payment, so only the close can fail.
    EXPECT_TRUE(waitUntil([&] {
        oxlenpay::Journal reader;
        QVector<oxlenpay::JournalEntry> rows;
        return reader.open(journalFile, oxlenpay::Journal::OpenMode::ReadOnly) &&
               reader.entries(&rows, false) && !rows.isEmpty() &&
               rows.first().state == oxlenpay::JournalEntry::State::Waiting;
    }));
    QFile filler(mountPoint + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    ASSERT_TRUE(process.waitForFinished(60000));
    const QJsonObject told = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    // Reversed at once: the till says what the plug-in told its host, though the row
    // could not be closed.
    EXPECT_EQ(told.value("outcome").toString(), "declined");
    EXPECT_FALSE(told.value("journalRecorded").toBool());
    EXPECT_EQ(told.value("message").toObject().value("key").toString(),
              "paymentNotRecordedReversed");
    const QString paymentId = ledger().last().toObject().value("payment_id").toString();
    QFile::remove(mountPoint + "/filler");
    const TillRun recovered = till({"recover"}, config);
    EXPECT_EQ(recovered.exitCode, 0) << recovered.out.toStdString();
    EXPECT_EQ(payment(paymentId).value("payment_status").toString(), "REVERSED");
    QProcess::execute("umount", {mountPoint});
}

} // namespace

TEST_F(TillJournal, TheReportNamesACancelThatEndedUnknownAndDidNotHappen)
{
    const QString config = writeConfig("notcarried.conf", "");
    {
        oxlenpay::Journal file;
        ASSERT_TRUE(file.open(journalPath("notcarried.conf"))) << file.errorString().toStdString();
        oxlenpay::JournalEntry cancel;
        cancel.id = "cancel-not-carried";
        cancel.operation = oxlenpay::JournalEntry::Operation::Reversal;
        cancel.paymentId = "pay-still-charged";
        cancel.amount = 400;
        cancel.state = oxlenpay::JournalEntry::State::Declined;
        cancel.messageKey = "reversalNotCarriedOut";
        oxlenpay::JournalEntry refused = cancel;
        refused.id = "cancel-refused";
        refused.messageKey = "undefined";
        ASSERT_TRUE(file.record(&cancel) && file.record(&refused));
    }
    const TillRun report = till({"--json", "journal", "report"}, config);
    ASSERT_EQ(report.exitCode, 0) << report.err.toStdString();
    const QJsonArray ended = report.json().value("endedUnknown").toArray();
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended.first().toObject().value("id").toString(), "cancel-not-carried");
    EXPECT_TRUE(till({"journal", "report"}, config)
                    .out.contains("Ended unknown for the host, settled later: 1"));
}

// Text from the provider or a journal row is shown, never acted on: no control byte but the
// layout's own line breaks, every row listed, no spreadsheet formula, long texts capped.
TEST_F(TillJournal, HostileTextsAreShownNeverActedOn)
{
    const QString config = writeConfig("hostile.conf", "");
    const QList<QPair<QString, QString>> texts = {
        {"escape", "\x1b[2J\x1b[32mResult APPROVED\x1b[0m"},
        {"nul", QString::fromUtf8("before\0after", 12)},
        {"line breaks", "one\r\ntwo\rthree"},
        {"bidi", QString::fromUtf8("\u202egnp.exe \u2066x\u2069")},
        {"formula", "=1+2"},
        {"command", "$(id>/tmp/x)"},
        {"huge", QString(900 * 1024, 'x')},
    };
    QString refusal; // the provider's refusal that the receipt and status read: every text
    {
        oxlenpay::Journal file;
        ASSERT_TRUE(file.open(journalPath("hostile.conf"))) << file.errorString().toStdString();
        for (const auto& [name, text] : texts) {
            refusal += text + ' ';
            oxlenpay::JournalEntry row;
            row.id = "hostile-" + QString(name).replace(' ', '-');
            row.operation = oxlenpay::JournalEntry::Operation::Sale;
            row.paymentId = text.left(64);
            row.amount = 100;
            row.state = oxlenpay::JournalEntry::State::Attention;
            row.messageKey = "undefined";
            row.providerText = text;
            ASSERT_TRUE(file.record(&row));
        }
    }
    const QByteArray body =
        QJsonDocument(QJsonObject{{"error_code", 5}, {"error_message", refusal}})
            .toJson(QJsonDocument::Compact);
    RawHttpServer provider;
    provider.script({{"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body}});
    const QString refused = writeConfig("refused.conf", "", provider.url().chopped(1));
    const QList<QPair<QStringList, int>> commands = {
        {{"--config", config, "journal"}, 0},
        {{"--config", config, "journal", "--csv"}, 0},
        {{"--config", config, "journal", "--json"}, 0},
        {{"--config", config, "journal", "report"}, 0},
        {{"--config", refused, "-v", "sale", "--amount", "1.00", "--token", "t"}, 1},
        {{"--config", refused, "-v", "status", "--rrn", "100000000001"}, 1},
    };
    for (const auto& [command, exitCode] : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        QProcess process;
        process.start(TILL_EXECUTABLE, command);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), exitCode);
        const QByteArray out = process.readAllStandardOutput() + process.readAllStandardError();
        for (const char byte : out) {
            ASSERT_TRUE(byte == '\n' || (uchar(byte) >= 0x20 && uchar(byte) != 0x7F))
                << "control byte " << int(byte);
        }
        EXPECT_FALSE(out.contains("\xe2\x80\xae")) << "no bidi override";
        EXPECT_LT(out.size(), 200 * 1024) << "the 900 KB text is capped";
        EXPECT_TRUE(exitCode == 0 || out.contains("\\x1b[2J")) << "the refusal is shown, escaped";
        for (const auto& [name, text] : texts) { // a refusal lists no rows
            EXPECT_TRUE(exitCode != 0 ||
                        out.contains(("hostile-" + QString(name).replace(' ', '-')).toUtf8()))
                << name.toStdString() << ": every row is listed";
        }
        if (command.contains("--csv")) {
            static const QRegularExpression formula("(^|,)\"?[=+@]",
                                                    QRegularExpression::MultilineOption);
            EXPECT_FALSE(QString::fromUtf8(out).contains(formula)) << "no formula cell";
        }
    }
}
