// What support and installation need, through the real till and sandbox: every payment
// traced by its ids, a status lookup, the journal's filters and the day's report, and a
// configuration check as strict as the plug-in.
#include "tillfixture.h"

#include <QDate>
#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

namespace tilltest {
namespace {

class Support : public TillEndToEnd {
protected:
    static QString field(const TillRun& run, const char* key)
    {
        return run.json().value(key).toString();
    }
};

TEST_F(Support, EveryPaymentIsTracedFromReceiptToReport)
{
    const QString config = writeConfig("trace.conf", "payDuration = 200\nreverseUnknown = 0\n");
    const int before = ledger().size();
    auto sale = [&](const char* token) {
        return till({"--json", "sale", "--amount", "2.00", "--token", token}, config);
    };
    const TillRun paid = sale("instant"), cancelled = sale("instant"), declined = sale("failed"),
                  lost = sale("lost"), pending = sale("pending");
    EXPECT_EQ(till({"cancel", "--rrn", field(cancelled, "rrn")}, config).exitCode, 0);
    // Nothing above what the journal knows is left leaves the till.
    const QByteArray sent = newestRequest();
    for (const QStringList& over :
         {QStringList{"cancel", "--rrn", field(cancelled, "rrn")},
          QStringList{"refund", "--rrn", field(paid, "rrn"), "--amount", "2.01", "--original",
                      "2.00"},
          QStringList{"cancel", "--rrn", field(paid, "rrn"), "--amount", "2.50"}}) {
        const TillRun refused = till(over, config);
        EXPECT_EQ(refused.exitCode, 2) << over.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains("left of payment")) << refused.err.toStdString();
    }
    EXPECT_EQ(newestRequest(), sent);

    // A lost sale names the transaction the provider received, in JSON and on the receipt.
    EXPECT_EQ(lost.exitCode, 4);
    const QString transaction = field(lost, "transactionId");
    bool received = false;
    for (const QJsonValue& payment : ledger()) {
        received |= payment.toObject().value("transaction_id").toString() == transaction;
    }
    EXPECT_TRUE(received) << transaction.toStdString();
    const TillRun receipt = till({"sale", "--amount", "2.00", "--token", "lost"}, config);
    EXPECT_TRUE(receipt.out.contains("Transaction id")) << receipt.out.toStdString();

    // One status request per payment, each sandbox status as it is.
    struct Lookup {
        QString rrn;
        QString status;
        int exitCode;
    };
    const QList<Lookup> lookups = {{field(paid, "paymentId"), "SUCCESS", 0},
                                   {field(cancelled, "paymentId"), "REVERSED", 0},
                                   {field(declined, "paymentId"), "FAILED", 0},
                                   {field(pending, "paymentId"), "PENDING", 0},
                                   {"no-such-payment", "", 1}};
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.rrn.toStdString());
        const TillRun status = till({"--json", "status", "--rrn", lookup.rrn}, config);
        EXPECT_EQ(status.exitCode, lookup.exitCode) << status.err.toStdString();
        EXPECT_EQ(field(status, "status"), lookup.status);
        EXPECT_EQ(status.json().value("journal").toArray().isEmpty(), lookup.exitCode != 0)
            << "the journal's rows of the payment beside the provider's status";
    }
    const QString nowhere = writeConfig("nowhere.conf", "host = https://127.0.0.1:9\n");
    EXPECT_EQ(till({"status", "--rrn", "x"}, nowhere).exitCode, 4) << "no answer came";

    // The journal by payment and by time.
    const QJsonArray ofPaid =
        till({"--json", "journal", "--payment", field(paid, "paymentId")}, config)
            .json()
            .value("entries")
            .toArray();
    ASSERT_EQ(ofPaid.size(), 1);
    EXPECT_EQ(ofPaid.first().toObject().value("state").toString(), "done");
    const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
    EXPECT_EQ(till({"--json", "journal", "--since", tomorrow}, config)
                  .json()
                  .value("entries")
                  .toArray()
                  .size(),
              0);
    const auto entries = [&](const QStringList& filter) {
        return till(QStringList{"--json", "journal"} + filter, config)
            .json()
            .value("entries")
            .toArray();
    };
    const int all = entries({}).size();
    EXPECT_EQ(entries({"--since", "yesterday"}).size(), all);
    EXPECT_EQ(entries({"--since", "-1h"}).size(), all);
    EXPECT_EQ(entries({"--until", "-1h"}).size(), 0);
    EXPECT_EQ(entries({"--amount", "2.00"}).size(), all)
        << "a cancel given no amount is journaled with what it returned";
    EXPECT_EQ(entries({"--amount", "0.00"}).size(), 0);
    const QString whole = ofPaid.first().toObject().value("id").toString();
    EXPECT_EQ(entries({"--id", whole.left(8)}).size(), 1) << "a unique prefix";
    EXPECT_EQ(till({"journal", "--since", "25:00"}, config).exitCode, 2);

    // The day's report agrees with the ledger: every sale the sandbox saw, by outcome.
    const TillRun report = till({"--json", "journal", "report"}, config);
    ASSERT_EQ(report.exitCode, 0) << report.err.toStdString();
    QHash<QString, int> sales;
    for (const QJsonValue& total : report.json().value("totals").toArray()) {
        if (total.toObject().value("operation").toString() == "sale") {
            sales[total.toObject().value("state").toString()] +=
                total.toObject().value("count").toInt();
        }
    }
    EXPECT_EQ(sales.value("done"), 2);
    EXPECT_EQ(sales.value("declined"), 1);
    EXPECT_EQ(sales.value("attention"), 3) << "two lost sales, one left pending";
    EXPECT_EQ(sales.value("done") + sales.value("declined") + sales.value("attention"),
              ledger().size() - before);
    EXPECT_EQ(report.json().value("notSettled").toArray().size(), 3);
    EXPECT_TRUE(till({"journal", "report"}, config).out.startsWith("==== REPORT"));
}

TEST_F(Support, CheckConfigIsAsStrictAsThePlugIn)
{
    struct Case {
        const char* name;
        QByteArray extra;
        QFile::Permissions mode;
        QStringList arguments;
        int exitCode;
        const char* says;
        QString caFile = QString(); // "-": the till is given no CA file
    };
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions open = owner | QFile::ReadGroup | QFile::ReadOther;
    // clang-format off
    const QList<Case> cases = {
        {"clean", "", owner, {}, 0, "no mistakes found"},
        {"a missing journal folder", "journal = /nonexistent/oxlenpay/j.sqlite\n", owner, {}, 2,
         "does not exist"},
        {"a key set twice", "timeout = 2000\n", owner, {}, 1, "set again"},
        {"the example's secret", "merchantSecretKey = change-me\n", owner, {}, 2, "placeholder"},
        {"readable by others", "", open, {}, 1, "readable by other users"},
        {"changeable by others", "", owner | QFile::WriteOther, {}, 1,
         "other users can change it"},
        {"a user id that ends its header", "merchantServiceUserId = a\x1b[2Jb\n", owner, {}, 2,
         "control character"},
        {"online, right secret", "", owner, {"--online"}, 0, "signature is accepted"},
        {"online, wrong secret", "merchantSecretKey = wrong\n", owner, {"--online"}, 2,
         "refused the signature"},
        {"online, a CA the till was not given", "", owner, {"--online"}, 2,
         "give it with --ca-file PEM here and STROVA_CA_FILE=PEM", "-"},
        {"a wait the plug-in takes, shorter than usual", "payDuration = 6000\n", owner, {}, 1,
         "the customer has 6000 ms to confirm"},
        {"a host whose path is replaced", "host = " + root.toUtf8() + "/shop\n", owner, {}, 1,
         "carries the path /shop, which path (/api/quindo-pay/merchant) replaces"},
    };
    // clang-format on
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A configuration as a shop writes it: none of the tests' short timings.
        const QString config = directory->filePath(QString("check-%1.conf").arg(++n));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[OxlenPay]\nhost = " + root.toUtf8() +
                   "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
                   "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
                   "timeout = 3000\njournal = " +
                   journalPath("check.conf").toUtf8() + "\n" + c.extra);
        file.close();
        QFile::setPermissions(config, c.mode);
        const TillRun run =
            till(QStringList{"check-config"} + c.arguments + QStringList{config}, config, c.caFile);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(c.says)) << run.out.toStdString();
        if (c.exitCode == 0) {
            EXPECT_FALSE(run.err.contains("ERROR")) << run.err.toStdString();
        }
    }
}

TEST_F(Support, EveryProcessFindsOneJournalWithoutAJournalLine)
{
    // The first place (beside the host's configuration) is not there on a test machine: the
    // journals go to the state folders, both made here, which is a mistake.
    const QString state = directory->filePath("state"), home = directory->filePath("home");
    qputenv("XDG_STATE_HOME", state.toUtf8());
    qputenv("HOME", home.toUtf8());
    const QString config = directory->filePath("placeless.conf");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[OxlenPay]\nhost = " + root.toUtf8() +
               "\nmerchantId = till-01\nmerchantServiceId = 5001\n"
               "merchantServiceUserId = merchant-user\nmerchantSecretKey = sandbox-secret\n"
               "frequency = 1000\npayDuration = 10000\ntimeout = 3000\n");
    file.close();
    QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner);
    const QString inState = state + "/oxlenpay/journal.sqlite";
    const QString inHome = home + "/.local/state/oxlenpay/journal.sqlite";

    // A fresh account has no state folder yet: that is no mistake, and the sale makes it
    // whole and the user's alone; every command then finds the journal.
    const TillRun fresh = till({"check-config", config});
    EXPECT_EQ(fresh.exitCode, 1) << fresh.out.toStdString();
    EXPECT_TRUE(fresh.out.contains("made by the first sale")) << fresh.out.toStdString();
    EXPECT_EQ(till({"sale", "--amount", "1.00", "--token", "instant"}, config).exitCode, 0);
    EXPECT_TRUE(QFile::exists(inState));
    EXPECT_EQ(QFile::permissions(state), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    EXPECT_TRUE(till({"info"}, config).out.contains(inState.toUtf8()));
    const TillRun one = till({"check-config", config});
    EXPECT_TRUE(one.out.contains(("journal in use: " + inState).toUtf8())) << one.out.toStdString();
    EXPECT_TRUE(one.out.contains("not beside the configuration")) << "a fallback is warned of";

    // A second journal is a mistake naming both.
    QDir().mkpath(QFileInfo(inHome).absolutePath());
    QFile::copy(inState, inHome);
    const TillRun two = till({"check-config", config});
    EXPECT_EQ(two.exitCode, 2) << two.out.toStdString();
    EXPECT_TRUE(two.out.contains((inState + " and " + inHome).toUtf8())) << two.out.toStdString();
    EXPECT_EQ(till({"recover"}, config).exitCode, 0) << "recover works on each";

    // A journal recover cannot write is the disk's or the rights' fault: exit 5.
    ::chmod(QFile::encodeName(QFileInfo(inState).absolutePath()).constData(), 0777);
    EXPECT_EQ(till({"recover"}, config).exitCode, 5);
    ::chmod(QFile::encodeName(QFileInfo(inState).absolutePath()).constData(), 0700);
    qunsetenv("XDG_STATE_HOME");
}

TEST_F(Support, TheTillKeepsSecretsAndReportsWhatItCannotWrite)
{
    const QString config = writeConfig("secrets.conf");
    // The token from standard input, never on the command line.
    QProcess sale;
    sale.start(TILL_EXECUTABLE,
               {"--config", config, "--ca-file", directory->filePath("sandbox.pem"), "--json",
                "sale", "--amount", "1.00", "--token", "-"});
    sale.write("instant-from-stdin\n");
    sale.closeWriteChannel();
    ASSERT_TRUE(sale.waitForFinished(30000));
    EXPECT_EQ(sale.exitCode(), 0) << sale.readAllStandardError().toStdString();
    EXPECT_EQ(ledger().last().toObject().value("scenario").toString(), "instant");

    // The journal's files are the owner's alone.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QFile::Permissions mode = QFile(journalPath("secrets.conf") + suffix).permissions();
        EXPECT_FALSE(mode & (QFile::ReadGroup | QFile::ReadOther)) << suffix;
    }
    // An answer that cannot be written is an I/O failure, not a success.
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(TILL_EXECUTABLE,
               {"--config", config, "--ca-file", directory->filePath("sandbox.pem"), "sale",
                "--amount", "1.00", "--token", "instant"});
    ASSERT_TRUE(full.waitForFinished(30000));
    EXPECT_EQ(full.exitCode(), 5);

    // Only the demo makes a temporary directory.
    QTemporaryDir temporary;
    QProcess info;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary.path());
    info.setProcessEnvironment(environment);
    info.start(TILL_EXECUTABLE, {"--config", config, "--quiet", "info"});
    ASSERT_TRUE(info.waitForFinished(30000));
    EXPECT_TRUE(QDir(temporary.path()).isEmpty());

    // A journal that belongs to another user is refused, naming the owner.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(journalPath("secrets.conf")).constData(), 65534, 65534),
                  0);
        const TillRun refused = till({"sale", "--amount", "1.00", "--token", "instant"}, config);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_TRUE(refused.err.contains("uid 65534")) << refused.err.toStdString();
    }
}

} // namespace
} // namespace tilltest
