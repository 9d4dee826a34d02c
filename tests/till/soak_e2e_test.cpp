// A soak that reconciles: a seeded random mix of sales on every scenario, refunds,
// cancels, fiscal links, injected faults, interrupts and tills killed mid-sale
// followed by `recover`, through the real till and sandbox. At the end three
// records must agree: the sandbox's ledger, the journal and what the tills printed.
//   OXLENPAY_SOAK_OPERATIONS=3000 OXLENPAY_SOAK_SEED=7 build/tests/till_tests
//   --gtest_filter='*Soak*'
#include "tillfixture.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <csignal>

namespace tilltest {
namespace {

/// Prometheus' text exposition format, as node_exporter's textfile collector reads it:
/// metric names [a-zA-Z_:][a-zA-Z0-9_:]*, label names [a-zA-Z_][a-zA-Z0-9_]* with quoted
/// values, one HELP and one TYPE line per family before its samples, each sample a number,
/// and a newline at the end of the file.
void expectExpositionFormat(const QByteArray& text)
{
    ASSERT_TRUE(text.endsWith('\n'));
    static const QRegularExpression comment(R"(^# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.+)$)");
    static const QRegularExpression sample(
        R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")"
        R"((,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")*\})? (\S+)$)");
    QHash<QString, int> helps, types;
    for (const QString& line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch c = comment.match(line);
        if (c.hasMatch()) {
            (c.captured(1) == "HELP" ? helps : types)[c.captured(2)] += 1;
            EXPECT_TRUE(c.captured(1) == "HELP" || c.captured(3) == "gauge") << line.toStdString();
            continue;
        }
        const QRegularExpressionMatch m = sample.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_EQ(helps.value(m.captured(1)), 1) << "HELP before " << line.toStdString();
        EXPECT_EQ(types.value(m.captured(1)), 1) << "TYPE before " << line.toStdString();
        bool number = false;
        m.captured(4).toDouble(&number);
        EXPECT_TRUE(number) << line.toStdString();
    }
}

class Soak : public TillEndToEnd {
protected:
    static void closeTheDay(const QString& config, const QString& start,
                            const QString& behindTheBack);
};

/// The day's close: a payment cancelled behind the journal's back, `journal reconcile`, and
/// the report's net per currency against the ledger's, to the cent, outside the rows the
/// reconciliation lists and the payments with a refund of unknown outcome.
void Soak::closeTheDay(const QString& config, const QString& start, const QString& behindTheBack)
{
    if (!behindTheBack.isEmpty()) {
        const QString other = writeConfig("soak-elsewhere.conf", "timeout = 1000\n");
        EXPECT_EQ(till({"cancel", "--rrn", behindTheBack}, other).exitCode, 0);
    }
    const QString metrics = directory->filePath("soak.prom");
    const TillRun reconciled = till(
        {"--json", "journal", "reconcile", "--since", start, "--metrics-file", metrics}, config);
    ASSERT_EQ(reconciled.exitCode, behindTheBack.isEmpty() ? 0 : 1) << reconciled.err.toStdString();
    QSet<QString> listed; // payment ids, or transaction ids of rows that have none
    bool caught = false;
    for (const char* list : {"disagreements", "notSettled"}) {
        for (const QJsonValue& row : reconciled.json().value(list).toArray()) {
            const QJsonObject entry = row.toObject();
            const QString paymentId = entry.value("paymentId").toString();
            listed.insert(paymentId.isEmpty() ? entry.value("id").toString() : paymentId);
            caught |= paymentId == behindTheBack &&
                      entry.value("reason").toString().endsWith("done; provider: REVERSED");
        }
    }
    EXPECT_EQ(caught, !behindTheBack.isEmpty()) << "the cancel behind the journal's back";

    // The journal's own net of each payment, and the payments whose refund is of unknown
    // outcome: a status cannot tell one refund from another.
    QHash<QString, qint64> journalNet;
    for (const QJsonValue& value :
         till({"--json", "journal", "--since", start}, config).json().value("entries").toArray()) {
        const QJsonObject row = value.toObject();
        const QString operation = row.value("operation").toString();
        const QString state = row.value("state").toString();
        const QString paymentId = row.value("paymentId").toString();
        if (operation == "partialReversal" && state != "done" && state != "declined") {
            listed.insert(paymentId);
        }
        if (state == "done" && operation != "fiscal") {
            const qint64 cents = qRound64(row.value("amount").toString().toDouble() * 100);
            journalNet[paymentId] += operation == "sale" ? cents : -cents;
        }
    }
    qint64 ledgerNet = 0, excludedLedger = 0, excludedJournal = 0;
    for (const QJsonValue& value : ledger()) {
        const QJsonObject p = value.toObject();
        const qint64 held = p.value("charged").toBool()
                                ? p.value("amount").toInt() - p.value("refunded").toInt()
                                : 0;
        ledgerNet += held;
        const QString id = p.value("payment_id").toString();
        if (listed.contains(id) || listed.contains(p.value("transaction_id").toString())) {
            excludedLedger += held;
            excludedJournal += journalNet.value(id);
        }
    }
    const TillRun report = till({"--json", "journal", "report", "--since", start}, config);
    qint64 reportNet = 0;
    for (const QJsonValue& net : report.json().value("net").toArray()) {
        if (net.toObject().value("currency").toInt() == 398) {
            reportNet = qRound64(net.toObject().value("net").toString().toDouble() * 100);
        }
    }
    EXPECT_EQ(reportNet - excludedJournal, ledgerNet - excludedLedger)
        << "the day's net, outside " << listed.size() << " listed payments";
    std::printf("close: net %.2f, ledger %.2f, %d listed, %d disagreements\n", reportNet / 100.0,
                ledgerNet / 100.0, int(listed.size()),
                reconciled.json().value("disagreeing").toInt());

    QFile file(metrics);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    expectExpositionFormat(text);
    EXPECT_TRUE(text.contains(QString("\noxlenpay_last_reconcile_disagreements %1\n")
                                  .arg(reconciled.json().value("disagreeing").toInt())
                                  .toUtf8()));
    EXPECT_TRUE(text.contains("\noxlenpay_journal_readable 1\n"));
}

TEST_F(Soak, ReconcilesLedgerJournalAndAnswersAndClosesTheDay)
{
    const int operations = qEnvironmentVariableIntValue("OXLENPAY_SOAK_OPERATIONS") > 0
                               ? qEnvironmentVariableIntValue("OXLENPAY_SOAK_OPERATIONS")
                               : 300;
    const quint32 seed = qEnvironmentVariableIsSet("OXLENPAY_SOAK_SEED")
                             ? quint32(qEnvironmentVariableIntValue("OXLENPAY_SOAK_SEED"))
                             : 20261208;
    QRandomGenerator random(seed);
    const QString config = writeConfig("soak.conf", "payDuration = 200\ntimeout = 1000\n");
    const QStringList tokens = {"settle-1", "settle-3", "instant",  "decline",           "failed",
                                "error",    "pending",  "lost",     "not-json",          "array",
                                "empty",    "no-id",    "http-500", "settle-on-reversal"};
    const QStringList faults = {"lost", "http-500", "reset", "not-json", "failed", "success-no-id"};
    const QStringList faulted = {"payment", "status", "reversal", "partial", "fiscal"};

    control("/_sandbox/reset", {});
    const QString start = QDateTime::currentDateTime().toOffsetFromUtc(0).toString(Qt::ISODate);
    QHash<QString, QString> answered;  // payment id -> outcome the till printed for its sale
    QHash<QString, qint32> refundable; // approved sales and what is left of them
    int kills = 0, faultsQueued = 0, interrupts = 0, named = 0;
    QElapsedTimer timer;
    timer.start();
    auto amount = [&] { return QString::number(1 + random.bounded(5000) / 100.0, 'f', 2); };

    for (int i = 0; i < operations; ++i) {
        const int dice = int(random.bounded(100));
        if (dice < 10) {
            injectFault(faulted[random.bounded(faulted.size())],
                        faults[random.bounded(faults.size())], 1);
            ++faultsQueued;
        }
        if (dice < 55 || refundable.isEmpty()) {
            const QString token = tokens[random.bounded(tokens.size())];
            const TillRun run =
                till({"--json", "sale", "--amount", amount(), "--token", token}, config);
            const QString id =
                run.json().value("additionalInfo").toObject().value("rrn").toString();
            const QString outcome = run.json().value("outcome").toString();
            if (!id.isEmpty()) {
                answered.insert(id, outcome);
            }
            if (outcome == "approved") {
                refundable.insert(id, payment(id).value("amount").toInt());
            }
        } else if (dice < 70) {
            const QString id = refundable.keys()[random.bounded(refundable.size())];
            const qint32 part = 1 + qint32(random.bounded(quint32(refundable[id])));
            const TillRun run =
                till({"--json", "refund", "--rrn", id, "--amount",
                      QString::number(part / 100.0, 'f', 2), "--original",
                      QString::number(payment(id).value("amount").toInt() / 100.0, 'f', 2)},
                     config);
            if (run.json().value("outcome").toString() != "declined") {
                refundable[id] -= part; // done, or perhaps done: never asked for again
                if (refundable[id] <= 0) {
                    refundable.remove(id);
                }
            }
        } else if (dice < 80) {
            const QString id = refundable.keys()[random.bounded(refundable.size())];
            const TillRun run = till({"--json", "cancel", "--rrn", id}, config);
            if (run.json().value("outcome").toString() != "declined") {
                refundable.remove(id);
            }
        } else if (dice < 90) {
            const QString id = refundable.keys()[random.bounded(refundable.size())];
            till({"--json", "fiscal", "--rrn", id, "--qr",
                  "https://ofd.example/r?i=" + QString::number(i)},
                 config);
        } else {
            // A till that dies (or is interrupted) while its sale waits for the customer.
            const bool kill = dice < 96;
            const int before = ledger().size();
            QProcess process;
            process.start(TILL_EXECUTABLE,
                          {"--config", config, "--ca-file", directory->filePath("sandbox.pem"),
                           "--json", "sale", "--amount", amount(), "--token", "pending"});
            waitUntil([&] {
                return process.state() == QProcess::NotRunning || ledger().size() > before;
            });
            ::kill(pid_t(process.processId()), kill ? SIGKILL : SIGINT);
            process.waitForFinished(90000);
            if (kill) {
                ++kills;
                till({"--json", "recover"}, config);
            } else {
                ++interrupts;
            }
        }
        resetFaults();
    }
    // Whatever is still open is finished now, as the next till would.
    till({"--json", "recover"}, config);

    // The journal's sales by transaction id: a sale whose answer named no payment is
    // still found there.
    QHash<QString, QString> saleStates;
    for (const QJsonValue& entry :
         till({"--json", "journal"}, config).json().value("entries").toArray()) {
        if (entry.toObject().value("operation").toString() == "sale") {
            saleStates.insert(entry.toObject().value("id").toString(),
                              entry.toObject().value("state").toString());
        }
    }
    int mismatches = 0;
    auto mismatch = [&](const QString& what) {
        ++mismatches;
        ADD_FAILURE() << what.toStdString();
    };
    for (const QJsonValue& value : ledger()) {
        const QJsonObject p = value.toObject();
        const QString id = p.value("payment_id").toString();
        const int amountHeld = p.value("amount").toInt(), refunded = p.value("refunded").toInt();
        if (refunded > amountHeld) {
            mismatch(id + " refunded beyond its amount");
        }
        if (p.value("repeats").toInt() != 0) {
            mismatch(id + ": its transaction id reached the provider more than once");
        }
        // Money held must have been APPROVED, or named UNKNOWN to the cashier (the
        // close-out's reversal met a fault too) with its payment id to check.
        const bool moneyHeld = p.value("charged").toBool() && refunded < amountHeld;
        const QString state = saleStates.value(p.value("transaction_id").toString());
        if (moneyHeld && answered.value(id) != "approved" &&
            (state == "unknown" || state == "attention")) {
            ++named;
        } else if (moneyHeld && answered.value(id) != "approved" && state != "done") {
            mismatch(id + " holds the customer's money without an APPROVED sale: " +
                     answered.value(id, "no answer") + ", journal " + state);
        }
    }
    // Nothing is left in flight: every entry is settled, or named for recovery or a person.
    int open = 0, unknown = 0;
    for (const QJsonValue& entry :
         till({"--json", "journal", "--open"}, config).json().value("entries").toArray()) {
        const QString state = entry.toObject().value("state").toString();
        (state == "unknown" || state == "attention" ? unknown : open) += 1;
    }
    if (open != 0) {
        mismatch(QString("%1 journal entries left sending or waiting").arg(open));
    }
    closeTheDay(config, start, refundable.isEmpty() ? QString() : refundable.keys().first());

    std::printf("soak: seed %u, operations %d, kills %d, interrupts %d, faults %d, payments %d, "
                "unknown named %d (journal %d), %.1f s, mismatches %d\n",
                seed, operations, kills, interrupts, faultsQueued, int(ledger().size()), named,
                unknown, timer.elapsed() / 1000.0, mismatches);
    EXPECT_EQ(mismatches, 0);
}

} // namespace
} // namespace tilltest
