// The sandbox's scenarios for the races that cost shops money, each met by the real
// till and plug-in: what the cashier is told and what the provider's ledger holds.
#include "tillfixture.h"

namespace tilltest {
namespace {

struct Fault {
    const char* operation;
    const char* fault;
    int count;
    int after;
};

struct RaceCase {
    const char* name;
    QList<Fault> faults;
    QStringList command; // "RRN": a settled sale of 15.00 made first
    int exitCode;
    const char* key;
    const char* ledgerStatus;
    int refunded; // hundredths
    bool charged;
    QMap<QString, int> requests; // "METHOD operation" -> how many the sandbox received
};

// The payment a case was about: the settled sale, the one the till names, or (when
// its answer was lost) the newest in the ledger.
QJsonObject paymentOf(const TillRun& run, const QStringList& command, const QString& paid,
                      const QJsonArray& ledger)
{
    const QString id = command.contains(paid)
                           ? paid
                           : run.json().value("additionalInfo").toObject().value("rrn").toString();
    for (const QJsonValue& entry : ledger) {
        if (entry.toObject().value("payment_id").toString() == id) {
            return entry.toObject();
        }
    }
    return ledger.last().toObject();
}

TEST_F(TillEndToEnd, RacesThatCostMoney)
{
    const QString post = "POST /api/quindo-pay/merchant";
    const QString poll = "GET /api/quindo-pay/merchant/payment/status";
    // clang-format off
    const RaceCase cases[] = {
        {"the customer confirms on a poll whose answer names no payment",
         {{"status", "success-no-id", 1, 1}},
         {"sale", "--amount", "3.00", "--token", "pending"},
         0, "", "SUCCESS", 0, true, {{post + "/payment", 1}, {poll, 2}}},
        {"FAILED in a poll", {{"status", "failed", 1, 0}},
         {"sale", "--amount", "3.00", "--token", "pending"},
         1, "undefined", "FAILED", 0, false, {{post + "/payment", 1}, {poll, 1}}},
        {"FAILED in the payment's own answer", {{"payment", "failed", 1, 0}},
         {"sale", "--amount", "3.00", "--token", "settle-1"},
         1, "undefined", "FAILED", 0, false, {{post + "/payment", 1}, {poll, 0}}},
        {"the customer confirms just as the reversal arrives", {},
         {"sale", "--amount", "3.00", "--token", "settle-on-reversal"},
         1, "paymentReversed", "REVERSED", 300, true, {{post + "/payment", 1}, {post + "/payment/reversal", 1}}},
        {"only the third poll fails", {{"status", "http-500", 1, 2}},
         {"sale", "--amount", "3.00", "--token", "settle-4"},
         0, "", "SUCCESS", 0, true, {{post + "/payment", 1}, {poll, 5}}},
        {"every poll fails", {{"status", "http-500", -1, 0}},
         {"sale", "--amount", "3.00", "--token", "settle-1"},
         1, "paymentReversed", "REVERSED", 300, false, {{post + "/payment", 1}, {post + "/payment/reversal", 1}}},
        // A request carried out and its answer lost, for every operation.
        {"a sale carried out, its answer lost", {{"payment", "lost", 1, 0}},
         {"sale", "--amount", "3.00", "--token", "instant"},
         4, "requestUploadedButAborted", "SUCCESS", 0, true, {{post + "/payment", 1}, {poll, 0}}},
        {"a poll carried out, its answer lost", {{"status", "lost", 1, 0}},
         {"sale", "--amount", "3.00", "--token", "settle-1"},
         0, "", "SUCCESS", 0, true, {{post + "/payment", 1}, {poll, 2}}},
        {"a cancel carried out, its answer lost", {{"reversal", "lost", 1, 0}},
         {"cancel", "--rrn", "RRN"},
         0, "", "REVERSED", 1500, true, {{post + "/payment/reversal", 1}, {poll, 1}}},
        {"a refund carried out, its answer lost", {{"partial", "lost", 1, 0}},
         {"refund", "--rrn", "RRN", "--amount", "5.00", "--original", "15.00"},
         4, "partialReversalOutcomeUnknown", "PARTIAL_CANCELLED", 500, true, {{post + "/partial/reversal", 1}}},
        {"a fiscal link carried out, its answer lost", {{"fiscal", "lost", 1, 0}},
         {"fiscal", "--rrn", "RRN", "--qr", "https://ofd.example/r?i=1"},
         1, "", "SUCCESS", 0, true, {{post + "/payment/fiscal", 1}}},
    };
    // clang-format on
    const QString config = writeConfig("races.conf", "payDuration = 300\n");
    for (const RaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString paid = sale("instant", "15.00");
        QStringList command = c.command;
        command.replaceInStrings("RRN", paid);
        for (const Fault& fault : c.faults) {
            injectFault(fault.operation, fault.fault, fault.count, fault.after);
        }
        const QJsonObject before = stats().value("requests").toObject();
        const TillRun run = till(QStringList{"--json"} + command, config);
        resetFaults();
        const QJsonObject after = stats().value("requests").toObject();

        EXPECT_EQ(run.exitCode, c.exitCode) << run.out.toStdString() << run.err.toStdString();
        EXPECT_EQ(run.json().value("message").toObject().value("key").toString(), c.key);
        const QJsonObject entry = paymentOf(run, command, paid, ledger());
        EXPECT_EQ(entry.value("payment_status").toString(), c.ledgerStatus);
        EXPECT_EQ(entry.value("refunded").toInt(), c.refunded);
        EXPECT_EQ(entry.value("charged").toBool(), c.charged);
        for (auto it = c.requests.cbegin(); it != c.requests.cend(); ++it) {
            EXPECT_EQ(after.value(it.key()).toInt() - before.value(it.key()).toInt(), it.value())
                << it.key().toStdString();
        }
    }
}

} // namespace
} // namespace tilltest
