// The real oxlenpay-till and oxlenpay-sandbox processes, as an integrator runs them.
#include "tillfixture.h"

#include <csignal>

namespace {

using namespace tilltest;

TEST_F(TillEndToEnd, SaleSettlesAfterPolls)
{
    const TillRun run = till({"--json", "sale", "--amount", "15.5", "--token", "settle-2"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject json = run.json();
    EXPECT_EQ(json.keys(), QStringList({"additionalInfo", "code", "journalRecorded", "message",
                                        "operation", "outcome", "paymentId", "paymentMethod", "rrn",
                                        "status", "success", "terminalId", "transactionId"}));
    EXPECT_TRUE(json.value("journalRecorded").toBool());
    EXPECT_EQ(json.value("outcome").toString(), "approved");
    EXPECT_EQ(json.value("operation").toString(), "sale");
    EXPECT_TRUE(json.value("success").isBool());
    EXPECT_TRUE(json.value("success").toBool());
    EXPECT_EQ(json.value("status").toInt(-1), 0);
    EXPECT_EQ(json.value("code").toInt(-1), 0);
    EXPECT_TRUE(json.value("message").toObject().value("key").isString());
    EXPECT_EQ(json.value("terminalId").toString(), "5001");
    EXPECT_EQ(json.value("paymentMethod").toInt(), 2);
    const QJsonObject info = json.value("additionalInfo").toObject();
    EXPECT_EQ(info.value("paymentProvider").toInt(), 161);
    EXPECT_TRUE(info.value("phone").isString());
    EXPECT_EQ(info.value("valutCode").toInt(), 398);
    const QString rrn = json.value("rrn").toString();
    EXPECT_EQ(info.value("rrn").toString(), rrn);
    EXPECT_EQ(payment(rrn).value("amount").toInt(), 1550);
    EXPECT_EQ(payment(rrn).value("polls").toInt(), 2);
    EXPECT_EQ(payment(rrn).value("payment_status").toString(), "SUCCESS");
}

TEST_F(TillEndToEnd, ReceiptByDefault)
{
    const TillRun run = till({"sale", "--amount", "3", "--token", "instant"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("APPROVED"));
    EXPECT_TRUE(run.out.contains("3.00"));
}

TEST_F(TillEndToEnd, DeclinedAndRefusedSales)
{
    const TillRun declined = till({"--json", "sale", "--amount", "7.50", "--token", "decline"});
    EXPECT_EQ(declined.exitCode, 1);
    EXPECT_FALSE(declined.json().value("success").toBool(true));
    EXPECT_EQ(declined.json().value("status").toInt(), 1);
    EXPECT_EQ(declined.json().value("rrn").toString(), "");
    EXPECT_EQ(declined.json().value("message").toObject().value("text").toString(),
              QString::fromUtf8("Клиент отклонил оплату"));

    const TillRun refused = till({"--json", "sale", "--amount", "7.50", "--token", "error"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.json().value("code").toInt(), 2001);
    EXPECT_EQ(refused.json().value("message").toObject().value("key").toString(), "undefined");
}

TEST_F(TillEndToEnd, LostAnswerIsUnknownAndChargesOnce)
{
    const int before = ledger().size();
    const TillRun run = till({"--json", "sale", "--amount", "2.00", "--token", "lost"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.json().value("outcome").toString(), "unknown");
    EXPECT_EQ(run.json().value("message").toObject().value("key").toString(),
              "requestUploadedButAborted");
    EXPECT_EQ(ledger().size(), before + 1);

    const TillRun receipt = till({"sale", "--amount", "2.00", "--token", "lost"});
    EXPECT_EQ(receipt.exitCode, 4);
    EXPECT_TRUE(receipt.out.contains("UNKNOWN")) << receipt.out.toStdString();
    EXPECT_TRUE(receipt.out.contains("check the payment's status with the provider"));
}

TEST_F(TillEndToEnd, WaitThatTimesOut)
{
    const QString config = writeConfig("short.conf", "payDuration = 100\nreverseUnknown = 0\n");
    const TillRun run = till({"--json", "sale", "--amount", "1.00", "--token", "pending"}, config);
    EXPECT_EQ(run.exitCode, 4) << "still pending: it may yet be charged";
    EXPECT_EQ(run.json().value("outcome").toString(), "unknown");
    EXPECT_EQ(run.json().value("message").toObject().value("key").toString(),
              "requestStatusTimeout");
    const QString id = run.json().value("additionalInfo").toObject().value("rrn").toString();
    EXPECT_EQ(payment(id).value("payment_status").toString(), "PENDING") << "left as it is";
}

/// One provider fault met by one till command, and what the cashier and the ledger show.
struct FaultCase {
    const char* name;
    QList<QPair<QString, QString>> faults; // operation, fault: queued after the set-up
    QStringList command;                   // "RRN" stands for the payment made in the set-up
    int exitCode;
    const char* outcome;
    const char* key;
    const char* ledgerStatus; // the payment's status afterwards
    int refunded;             // hundredths
    bool fiscalStored;
};

TEST_F(TillEndToEnd, MoneyIsNeverReportedDoneWhenItIsNot)
{
    // clang-format off
    const FaultCase cases[] = {
        {"a partial refund whose answer is lost after an earlier one", {{"partial", "lost"}},
         {"refund", "--rrn", "RRN", "--amount", "20.00", "--original", "15.00"},
         4, "unknown", "partialReversalOutcomeUnknown", "PARTIAL_CANCELLED", 500, false},
        {"a fiscal link whose answer is lost", {{"fiscal", "lost"}},
         {"fiscal", "--rrn", "RRN", "--qr", "https://ofd.example/q"},
         1, "declined", "", "PARTIAL_CANCELLED", 500, true},
        {"status polls that keep failing", {{"status", "http-500"}},
         {"sale", "--amount", "3.00", "--token", "pending"},
         1, "declined", "paymentReversed", "REVERSED", 300, false},
        {"declined in the payment's own answer", {},
         {"sale", "--amount", "3.00", "--token", "failed"},
         1, "declined", "undefined", "FAILED", 0, false},
        {"pending until the time runs out", {},
         {"sale", "--amount", "3.00", "--token", "pending"},
         1, "declined", "paymentReversed", "REVERSED", 300, false},
        {"a poll that settles without naming the payment", {{"status", "no-id"}},
         {"sale", "--amount", "3.00", "--token", "settle-1"},
         0, "approved", "", "SUCCESS", 0, false},
    };
    // clang-format on
    const QString config = writeConfig("money.conf", "payDuration = 200\n");
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        // A sale of 15.00 with 5.00 refunded: its status already reads PARTIAL_CANCELLED,
        // and a refund of 20.00 more is refused.
        const QString paid = sale("instant", "15.00");
        ASSERT_EQ(
            till({"refund", "--rrn", paid, "--amount", "5.00", "--original", "15.00"}).exitCode, 0);
        for (const auto& fault : c.faults) {
            injectFault(fault.first, fault.second, fault.first == "status" ? 50 : 1);
        }
        QStringList command = c.command;
        command.replaceInStrings("RRN", paid);
        const TillRun run = till(QStringList{"--json"} + command, config);
        resetFaults();

        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_EQ(run.json().value("outcome").toString(), c.outcome);
        EXPECT_EQ(run.json().value("message").toObject().value("key").toString(), c.key);
        const bool onThePaidSale = command.contains(paid);
        const QString id =
            onThePaidSale ? paid
                          : run.json().value("additionalInfo").toObject().value("rrn").toString();
        ASSERT_FALSE(id.isEmpty()) << "the host always learns the payment id";
        if (c.exitCode == 0) {
            EXPECT_EQ(run.json().value("rrn").toString(), id);
        }
        const QJsonObject entry = payment(id);
        EXPECT_EQ(entry.value("payment_status").toString(), c.ledgerStatus);
        EXPECT_EQ(entry.value("refunded").toInt(), c.refunded);
        EXPECT_EQ(!entry.value("fiscal_url").toString().isEmpty(), c.fiscalStored);
    }
}

TEST_F(TillEndToEnd, CtrlCClosesOutAPendingSale)
{
    const QString config = writeConfig("interrupt.conf", "frequency = 200\npayDuration = 60000\n");
    const int before = ledger().size();
    QProcess process;
    process.start(TILL_EXECUTABLE,
                  {"--config", config, "--ca-file", directory->filePath("sandbox.pem"), "sale",
                   "--amount", "4.00", "--token", "pending"});
    ASSERT_TRUE(process.waitForStarted(10000));
    QElapsedTimer waited;
    waited.start();
    while (ledger().size() == before && waited.elapsed() < 20000) {
        QThread::msleep(20);
    }
    ASSERT_EQ(ledger().size(), before + 1) << "the sale reached the sandbox";
    QThread::msleep(100);
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Ctrl-C: the plug-in stops waiting")) << err.toStdString();
    EXPECT_TRUE(out.contains("Ожидание оплаты прервано, оплата отменена")) << out.toStdString();
    const QJsonObject entry = ledger().last().toObject();
    EXPECT_EQ(entry.value("payment_status").toString(), "REVERSED");
    EXPECT_TRUE(out.contains(entry.value("payment_id").toString())) << out.toStdString();

    // A second Ctrl-C while the close-out waits for a slow answer quits at once, naming the
    // payment.
    injectFault("reversal", "slow", 1);
    QProcess impatient;
    impatient.start(TILL_EXECUTABLE,
                    {"-v", "--config", config, "--ca-file", directory->filePath("sandbox.pem"),
                     "sale", "--amount", "4.00", "--token", "pending"});
    ASSERT_TRUE(impatient.waitForStarted(10000));
    waited.restart();
    while (ledger().size() == before + 1 && waited.elapsed() < 20000) {
        QThread::msleep(20);
    }
    QThread::msleep(100);
    ::kill(pid_t(impatient.processId()), SIGINT);
    // Once the close-out has begun, its reversal is on its way, answered only after 3 s.
    QByteArray quitErrBytes;
    waited.restart();
    while (!QString::fromUtf8(quitErrBytes).contains("не подтверждена") &&
           waited.elapsed() < 20000) {
        impatient.waitForReadyRead(50);
        quitErrBytes += impatient.readAllStandardError();
    }
    ::kill(pid_t(impatient.processId()), SIGINT);
    ASSERT_TRUE(impatient.waitForFinished(30000));
    resetFaults();
    const QString quitErr = QString::fromUtf8(quitErrBytes + impatient.readAllStandardError());
    EXPECT_EQ(impatient.exitCode(), 130) << quitErr.toStdString();
    EXPECT_TRUE(quitErr.contains("Payment id: " +
                                 ledger().last().toObject().value("payment_id").toString()))
        << quitErr.toStdString();
}

TEST_F(TillEndToEnd, RefundsCancelAndFiscalLink)
{
    const QString rrn = sale("instant", "15.00");
    const TillRun fiscal =
        till({"--json", "fiscal", "--rrn", rrn, "--qr", "https://ofd.example/q"});
    EXPECT_EQ(fiscal.exitCode, 0) << fiscal.err.toStdString();
    EXPECT_EQ(fiscal.json(),
              QJsonObject({{"operation", "fiscal"}, {"success", true}, {"outcome", "approved"}}));
    EXPECT_EQ(payment(rrn).value("fiscal_url").toString(), "https://ofd.example/q");

    const TillRun partial =
        till({"--json", "refund", "--rrn", rrn, "--amount", "5.00", "--original", "15.00"});
    EXPECT_EQ(partial.exitCode, 0) << partial.err.toStdString();
    EXPECT_EQ(partial.json().value("operation").toString(), "refund");
    EXPECT_EQ(payment(rrn).value("payment_status").toString(), "PARTIAL_CANCELLED");
    EXPECT_EQ(payment(rrn).value("rest").toInt(), 1000);

    const TillRun cancel = till({"--json", "cancel", "--rrn", rrn});
    EXPECT_EQ(cancel.exitCode, 0) << cancel.err.toStdString();
    EXPECT_EQ(payment(rrn).value("payment_status").toString(), "REVERSED");
    EXPECT_EQ(cancel.json().value("additionalInfo").toObject().value("rrn").toString(), rrn);

    const QString whole = sale("instant", "8.00");
    const TillRun full =
        till({"--json", "refund", "--rrn", whole, "--amount", "8.00", "--original", "8.00"});
    EXPECT_EQ(full.exitCode, 0);
    EXPECT_EQ(payment(whole).value("payment_status").toString(), "REVERSED");

    // Nothing is left of it, as the journal knows: the till sends nothing.
    const TillRun again = till({"--json", "cancel", "--rrn", whole});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(again.err.contains("the journal has 0.00 left of payment"))
        << again.err.toStdString();
}

TEST_F(TillEndToEnd, Info)
{
    const TillRun run = till({"--json", "info"});
    ASSERT_EQ(run.exitCode, 0);
    const QJsonObject json = run.json();
    const QJsonObject dialog = json.value("dialog").toObject();
    EXPECT_EQ(dialog.value("title").toString(), QString::fromUtf8("Ввод токена Oxlen Pay"));
    EXPECT_EQ(dialog.value("image").toObject().value("width").toInt(), 453);
    EXPECT_EQ(dialog.value("image").toObject().value("height").toInt(), 350);
    EXPECT_EQ(json.value("paymentTypes").toArray(), QJsonArray({"sale", "refund"}));
    EXPECT_EQ(json.value("cancelTypes").toArray(), QJsonArray({"sale"}));
    EXPECT_EQ(json.value("operations")
                  .toObject()
                  .value("balance")
                  .toObject()
                  .value("message")
                  .toObject()
                  .value("key")
                  .toString(),
              "basicPaymentProcessingBalance");

    // What the plug-in works with, the secret only as its length.
    EXPECT_FALSE(json.value("version").toString().isEmpty());
    EXPECT_TRUE(json.value("config").toString().endsWith("till.conf"));
    const QJsonObject settings = json.value("settings").toObject();
    EXPECT_EQ(settings.value("merchantSecretKey").toString(), "(set, 14 characters)");
    EXPECT_EQ(settings.value("timeout").toInt(), 3000) << "the file's value, not the default";
    EXPECT_EQ(settings.value("path").toString(), "/api/quindo-pay/merchant") << "the default";
    EXPECT_FALSE(run.out.contains("sandbox-secret"));
    EXPECT_TRUE(till({"--version"})
                    .out.startsWith("oxlenpay-till " + json.value("version").toString().toUtf8()));
}

TEST_F(TillEndToEnd, NoSecretIsPrinted)
{
    const TillRun run = till({"-v", "sale", "--amount", "1.00", "--token", "settle-1-SECRETTOKEN"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("INFO oxlenpay:")) << "-v shows the plug-in's info lines";
    for (const QByteArray& output : {run.out, run.err}) {
        EXPECT_FALSE(output.contains("sandbox-secret"));
        EXPECT_FALSE(output.contains("SECRETTOKEN"));
    }
    const TillRun quiet = till({"--quiet", "sale", "--amount", "1.00", "--token", "decline"});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
}

TEST_F(TillEndToEnd, BadUsageExitsWithTwo)
{
    const QList<QStringList> mistakes = {
        {"sale", "--amount", "abc", "--token", "t"},
        {"sale", "--amount", "1.234", "--token", "t"},
        {"sale", "--amount", "-5", "--token", "t"},
        {"sale", "--amount", "21474837", "--token", "t"},
        {"sale", "--amount", "0", "--token", "t"},
        {"sale", "--token", "t"},
        {"sale", "--amount", "1", "--token"},
        {"sale", "--amount", "1", "--token", "t", "--colour", "red"},
        {"--frobnicate", "info"},
        {"teleport"},
        {"refund", "--rrn", "x", "--amount", "1"},
        {"sale", "--amount", "1", "--token", "t", "--currency", "dollars"},
        {"fiscal", "--rrn", "x", "--qr", "javascript:alert(1)"},
        {"fiscal", "--rrn", "x", "--qr", "file:///etc/passwd"},
        {"fiscal", "--rrn", "x", "--qr", ""},
    };
    const int before = ledger().size();
    for (const QStringList& arguments : mistakes) {
        const TillRun run = till(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("oxlenpay-till: ")) << run.err.toStdString();
    }
    EXPECT_EQ(ledger().size(), before) << "nothing reached the provider";

    const TillRun missingConfig = till({"info"}, directory->filePath("nowhere.conf"));
    EXPECT_EQ(missingConfig.exitCode, 2);
    EXPECT_EQ(till({"sale", "--help"}).exitCode, 0);
    EXPECT_TRUE(till({"--help"}).out.contains("refund --rrn ID"));
}

TEST_F(TillEndToEnd, MissingOrBrokenPluginExitsWithThree)
{
    const TillRun missing = till({"--plugin", directory->filePath("absent.so"), "info"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(missing.err.contains("absent.so")) << missing.err.toStdString();

    const QString broken = directory->filePath("libBroken.so");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a library");
    file.close();
    const TillRun run = till({"--plugin", broken, "info"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("cannot load the plug-in")) << run.err.toStdString();
    EXPECT_GT(run.err.size(),
              QByteArray("oxlenpay-till: cannot load the plug-in ").size() + broken.size() + 4)
        << "Qt's reason follows";
}

} // namespace
