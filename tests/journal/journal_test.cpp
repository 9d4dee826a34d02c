// The journal's own reader and writer: entries kept across reopening, old ones
// cleaned, and damaged or foreign files refused with a reason, never a crash.
#include "journal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using oxlenpay::Journal;
using oxlenpay::JournalEntry;
using State = JournalEntry::State;

JournalEntry entry(const QString& id, State state)
{
    JournalEntry e;
    e.id = id;
    e.operation = JournalEntry::Operation::PartialReversal;
    e.amount = 500;
    e.currency = 398;
    e.paymentId = "pay-1";
    e.state = state;
    return e;
}

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(Journal, KeepsEntriesAcrossReopeningAndCleansOldClosedOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    {
        Journal journal;
        ASSERT_TRUE(journal.open(path)) << journal.errorString().toStdString();
        JournalEntry first = entry("first", State::Sending);
        ASSERT_TRUE(journal.record(&first));
        const QDateTime created = first.created;
        first.state = State::Done;
        first.messageKey = "";
        first.providerStatus = "PARTIAL_CANCELLED";
        first.operation = JournalEntry::Operation::Sale; // a known entry keeps its operation
        first.created = created.addDays(-5);             // and its creation time
        ASSERT_TRUE(journal.record(&first));
        JournalEntry second = entry("second", State::Waiting);
        ASSERT_TRUE(journal.record(&second));
    }
    Journal journal;
    ASSERT_TRUE(journal.open(path, Journal::OpenMode::ExistingOnly));
    QVector<JournalEntry> all;
    ASSERT_TRUE(journal.entries(&all, false));
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].id, "second"); // newest first
    EXPECT_EQ(all[1].operation, JournalEntry::Operation::PartialReversal);
    EXPECT_EQ(all[1].state, State::Done);
    EXPECT_EQ(all[1].providerStatus, "PARTIAL_CANCELLED");
    EXPECT_LE(all[1].created, all[1].changed);
    EXPECT_EQ(all[1].amount, 500);
    EXPECT_EQ(all[1].currency, 398);

    QVector<JournalEntry> open;
    ASSERT_TRUE(journal.entries(&open, true));
    ASSERT_EQ(open.size(), 1);
    EXPECT_EQ(open[0].id, "second");

    EXPECT_EQ(journal.removeSettledBefore(QDateTime::currentDateTimeUtc().addDays(-1)), 0);
    // Only the closed entry goes, however old the open one is.
    EXPECT_EQ(journal.removeSettledBefore(QDateTime::currentDateTimeUtc().addSecs(60)), 1);
    ASSERT_TRUE(journal.entries(&all, false));
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].id, "second");
}

// The listings filter in SQL, answered from their indexes; what they return must be what
// a full read filtered here returns.
TEST(Journal, FilteredListingsMatchAFullRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-10);
    const auto restoreClock = Journal::wallClock;
    {
        Journal journal;
        ASSERT_TRUE(journal.open(path));
        for (int i = 0; i < 24; ++i) {
            Journal::wallClock = [&] { return start.addSecs(3600 * (i % 9)); }; // ties included
            JournalEntry e = entry(QString("row-%1").arg(i), State(i % 8));
            e.paymentId = QString("pay-%1").arg(i % 3);
            ASSERT_TRUE(journal.record(&e));
        }
    }
    Journal::wallClock = restoreClock;
    Journal journal;
    ASSERT_TRUE(journal.open(path, Journal::OpenMode::ReadOnly));
    QVector<JournalEntry> all;
    ASSERT_TRUE(journal.entries(&all, false));
    ASSERT_EQ(all.size(), 24);

    using Filter = Journal::Filter;
    const QDateTime since = start.addSecs(3600 * 2), until = start.addSecs(3600 * 6);
    const Filter filters[] = {
        {true, {}, {}, {}, {}},     {false, "row-5", {}, {}, {}}, {false, {}, "pay-1", {}, {}},
        {false, {}, {}, since, {}}, {false, {}, {}, {}, until},   {true, {}, "pay-2", since, until},
    };
    for (const Filter& filter : filters) {
        QVector<JournalEntry> listed;
        ASSERT_TRUE(journal.entries(&listed, filter));
        QStringList expected, got;
        for (const JournalEntry& e : all) { // newest first, as the listing orders them
            if ((!filter.unsettledOnly || !e.isSettled()) &&
                (filter.id.isEmpty() || e.id == filter.id) &&
                (filter.paymentId.isEmpty() || e.paymentId == filter.paymentId) &&
                (!filter.since.isValid() || e.created >= filter.since) &&
                (!filter.until.isValid() || e.created < filter.until)) {
                expected << e.id;
            }
        }
        for (const JournalEntry& e : listed) {
            got << e.id;
        }
        EXPECT_EQ(got, expected) << filter.unsettledOnly << filter.id.toStdString()
                                 << filter.paymentId.toStdString();
    }
}

TEST(Journal, DamagedOrForeignFilesAreRefusedWithAReason)
{
    struct Case {
        const char* name;
        std::function<void(const QString& path)> prepare;
        bool usable;
        const char* reason;
    };
    auto bytes = [](const QByteArray& content) {
        return [content](const QString& path) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
    };
    auto truncatedJournal = [](qint64 keep) {
        return [keep](const QString& path) {
            {
                Journal journal;
                ASSERT_TRUE(journal.open(path));
                for (int i = 0; i < 300; ++i) {
                    JournalEntry e =
                        entry(QString("entry-%1-").arg(i) + QString(60, 'x'), State::Done);
                    ASSERT_TRUE(journal.record(&e));
                }
            }
            runSql(path, "PRAGMA wal_checkpoint(TRUNCATE)"); // every row into the file itself
            ASSERT_TRUE(QFile::resize(path, keep < 0 ? QFile(path).size() + keep : keep));
        };
    };
    const QList<Case> cases = {
        {"an empty file becomes a new journal", bytes(""), true, ""},
        {"text", bytes(QByteArray(10000, 'x')), false, "file is not a database"},
        {"a header and nothing else", bytes(QByteArray("SQLite format 3\0", 16)), false,
         "cannot read the database"},
        {"a journal cut after its first page", truncatedJournal(4096), false, ""},
        {"a journal missing its last page", truncatedJournal(-4096), false, ""},
        {"another SQLite database",
         [](const QString& path) { runSql(path, "CREATE TABLE things (name TEXT)"); }, false,
         "another SQLite database"},
        {"a journal of a later version",
         [](const QString& path) {
             {
                 Journal journal;
                 ASSERT_TRUE(journal.open(path));
             }
             runSql(path, "PRAGMA user_version = 7");
         },
         false, "schema version is 7"},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString("case-%1.sqlite").arg(++n));
        c.prepare(path);
        Journal journal;
        QVector<JournalEntry> entries;
        JournalEntry fresh = entry("fresh", State::Sending);
        const bool usable = journal.open(path) && journal.entries(&entries, false) &&
                            journal.record(&fresh) && journal.entries(&entries, false);
        EXPECT_EQ(usable, c.usable);
        if (!c.usable) {
            EXPECT_FALSE(journal.errorString().isEmpty());
            EXPECT_TRUE(journal.errorString().contains(c.reason))
                << journal.errorString().toStdString();
        }
    }
}

TEST(Journal, MissingFilesAndPlacesAreNamed)
{
    QTemporaryDir dir;
    Journal journal;
    EXPECT_FALSE(journal.open(dir.filePath("absent.sqlite"), Journal::OpenMode::ExistingOnly));
    EXPECT_FALSE(QFile::exists(dir.filePath("absent.sqlite")));
    EXPECT_FALSE(journal.open(dir.filePath("no/such/dir/journal.sqlite")));
    EXPECT_TRUE(journal.errorString().startsWith("cannot open the file"));
    EXPECT_FALSE(journal.open(QString()));
    JournalEntry e = entry("x", State::Sending);
    EXPECT_FALSE(journal.record(&e));
    EXPECT_EQ(journal.removeSettledBefore(QDateTime::currentDateTimeUtc()), -1);
}

// What SQLite says a file's schema is: every column, every index with its condition, and
// whether the checks refuse a state no row may have; the plan of the unsettled listing.
QStringList schemaOf(const QString& path)
{
    QStringList facts;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const auto collect = [&](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                row << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
            }
            facts << row.join('|').simplified().remove("IF NOT EXISTS ");
        }
        sqlite3_finalize(statement);
    };
    collect("PRAGMA table_xinfo(operations)");
    collect("PRAGMA table_xinfo(reconciliations)");
    collect("PRAGMA table_xinfo(runs)");
    collect("SELECT name, sql FROM sqlite_master WHERE type = 'index' ORDER BY name");
    collect("EXPLAIN QUERY PLAN SELECT id FROM operations "
            "WHERE state IN ('sending', 'waiting', 'unknown', 'attention')");
    for (const char* bad :
         {"UPDATE operations SET state = 'lost'", "UPDATE operations SET operation = 'refund'"}) {
        facts << QString("%1: %2").arg(bad).arg(sqlite3_exec(db, bad, nullptr, nullptr, nullptr));
    }
    sqlite3_close(db);
    return facts;
}

// A journal as version 1 of the plug-in wrote it, without rows.
const std::string VersionOne = R"(
    CREATE TABLE operations (id TEXT PRIMARY KEY NOT NULL, operation TEXT NOT NULL,
        amount INTEGER NOT NULL, currency INTEGER NOT NULL, payment_id TEXT NOT NULL DEFAULT '',
        state TEXT NOT NULL, provider_status TEXT NOT NULL DEFAULT '',
        message_key TEXT NOT NULL DEFAULT '', created_ms INTEGER NOT NULL,
        changed_ms INTEGER NOT NULL, owner_pid INTEGER NOT NULL, owner_start INTEGER NOT NULL);
    PRAGMA application_id = 1331186252; PRAGMA user_version = 1;)";

TEST(Journal, AVersionOneFileClimbsTheLadderInOneStep)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("v1.sqlite");
    runSql(path, (VersionOne + R"(
        INSERT INTO operations VALUES ('a', 'sale', 100, 398, 'pay-a', 'unknown', '', 'k', 1, 1, 5, 6);
        INSERT INTO operations VALUES ('b', 'sale', 200, 398, 'pay-b', 'waiting', '', '', 2, 2, 5, 6);
        INSERT INTO operations VALUES ('r', 'reversal', 0, 398, 'pay-b', 'done', '', '', 0, 0, 5, 6);)")
                     .c_str());
    Journal reader;
    EXPECT_FALSE(reader.open(path, Journal::OpenMode::ReadOnly));
    EXPECT_TRUE(reader.errorString().contains("version is 1 and must be migrated to 4"));

    Journal journal;
    ASSERT_TRUE(journal.open(path)) << journal.errorString().toStdString();
    QVector<JournalEntry> rows;
    ASSERT_TRUE(journal.entries(&rows, false));
    ASSERT_EQ(rows.size(), 3);
    // A cancel written as 0 did not know what it returned; nothing was timed then.
    EXPECT_FALSE(rows[2].amountKnown);
    EXPECT_TRUE(rows[1].amountKnown && rows[1].amount == 100);
    EXPECT_EQ(rows[1].durationMs(), -1);
    // A closed unknown of version 1 waits for a person; the open row for recovery.
    EXPECT_EQ(rows[1].state, State::Attention);
    EXPECT_EQ(rows[0].state, State::Waiting);
    EXPECT_TRUE(rows[0].owner.isEmpty());
    EXPECT_EQ(rows[1].messageKey, "k");
    ASSERT_TRUE(journal.claim(&rows[0], State::Unknown)) << "a row without an owner can be taken";

    // The climbed file and a new one are the same journal: columns, checks and indexes.
    const QString fresh = dir.filePath("new.sqlite");
    Journal made;
    JournalEntry one = entry("c", State::Done);
    ASSERT_TRUE(made.open(fresh) && made.record(&one));
    journal.close();
    made.close();
    const QStringList climbed = schemaOf(path);
    EXPECT_EQ(climbed, schemaOf(fresh));
    EXPECT_TRUE(climbed.filter("USING INDEX operations_unsettled").size() == 1)
        << climbed.join('\n').toStdString();
    EXPECT_EQ(climbed.filter(QRegularExpression(": 19$")).size(), 2) << "both checks refuse";
}

TEST(Journal, AFileThatVanishesIsMadeAnewWithEveryRow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shop/journal.sqlite");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("shop")));
    Journal journal;
    ASSERT_TRUE(journal.open(path));
    JournalEntry settled = entry("settled", State::Done);
    JournalEntry waiting = entry("waiting", State::Waiting);
    ASSERT_TRUE(journal.record(&settled) && journal.record(&waiting));
    Journal other; // another till's handle on the same file
    ASSERT_TRUE(other.open(path));
    EXPECT_TRUE(other.isOwnerAlive(journal.owner()));

    ASSERT_TRUE(QDir(dir.filePath("shop")).removeRecursively()); // under the running till
    waiting.state = State::Done;
    ASSERT_TRUE(journal.record(&waiting)) << journal.errorString().toStdString();
    EXPECT_EQ(journal.carriedOver(), 1);
    EXPECT_TRUE(QFile::exists(path));
    Journal reader;
    QVector<JournalEntry> rows;
    ASSERT_TRUE(reader.open(path, Journal::OpenMode::ReadOnly) && reader.entries(&rows, false));
    ASSERT_EQ(rows.size(), 2) << "the settled row is the day's record: it goes too";
    EXPECT_EQ(rows[0].id, "waiting");
    EXPECT_EQ(rows[0].state, State::Done);
    EXPECT_TRUE(other.isOwnerAlive(journal.owner())) << "its owner file was made anew as well";

    // The fault seam: the next writes fail as a full disk would, then writing works again.
    Journal::failingWrites = 2;
    JournalEntry next = entry("next", State::Sending);
    EXPECT_FALSE(journal.record(&next));
    EXPECT_TRUE(journal.errorString().contains("disk I/O error"));
    EXPECT_FALSE(journal.record(&next));
    EXPECT_TRUE(journal.record(&next));
    journal.close();
    EXPECT_FALSE(other.isOwnerAlive(rows[0].owner)) << "a closed handle owns nothing";
}

TEST(Journal, AnOwnerTextThatIsNoTokenIsNeverLookedUp)
{
    // An owner is text from the file: "../NAME" must never reach, or unlink, a file outside.
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    Journal journal;
    ASSERT_TRUE(journal.open(path));
    ASSERT_TRUE(QFileInfo(path + ".owners").isDir()) << "the owners' folder exists";
    QFile bait(dir.filePath("0123456789abcdef0123456789abcdef0"));
    ASSERT_TRUE(bait.open(QIODevice::WriteOnly));
    EXPECT_FALSE(journal.isOwnerAlive("../" + QFileInfo(bait).fileName()));
    EXPECT_TRUE(bait.exists()) << "nothing outside the folder is removed";
}

TEST(Journal, FilesNothingCanChangeAreRefusedBeforeSqliteMapsThem)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    {
        Journal journal;
        ASSERT_TRUE(journal.open(path));
        JournalEntry row = entry("kept", State::Waiting);
        ASSERT_TRUE(journal.record(&row));
    }
    // Root ignores the mode bits, not these flags: SQLite would die of SIGBUS on the -shm.
    const struct {
        QString file;
        const char* flag;
        const char* named;
    } cases[] = {{path + "-shm", "+i", "immutable"},
                 {path, "+a", "append-only"},
                 {dir.path(), "+i", "immutable"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        if (!QFile::exists(c.file) || QProcess::execute("chattr", {c.flag, c.file}) != 0) {
            GTEST_SKIP() << "chattr does not work here";
        }
        Journal journal;
        EXPECT_FALSE(journal.open(path));
        EXPECT_TRUE(journal.errorString().contains(c.named)) << journal.errorString().toStdString();
        QProcess::execute("chattr", {QString(c.flag).replace('+', '-'), c.file});
        EXPECT_TRUE(journal.open(path)) << journal.errorString().toStdString();
    }
}

// Another local user must not steer where a writer's rows go. Files that seem another's
// are really another's when the tests run as root (as CI does); otherwise their mode alone
// is what gives them away.
TEST(Journal, NoOtherUserCanSteerTheJournal)
{
    const bool root = ::geteuid() == 0;
    const auto foreign = [root](const QString& path, mode_t mode) {
        ::chmod(QFile::encodeName(path).constData(), mode);
        if (root) {
            EXPECT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        }
    };
    struct Case {
        const char* name;
        std::function<void(const QString& folder, const QString& path)> plant;
        const char* refusal; // empty: the journal opens
    };
    const QList<Case> cases = {
        {"a journal of our own", [](const QString&, const QString&) {}, ""},
        {"a dangling symbolic link",
         [](const QString& folder, const QString& path) {
             QFile::link(folder + "/elsewhere.sqlite", path);
         },
         "is a symbolic link"},
        {"a symbolic link to one's own file",
         [](const QString& folder, const QString& path) {
             QFile(folder + "/own.sqlite").open(QIODevice::WriteOnly);
             QFile::link(folder + "/own.sqlite", path);
         },
         "is a symbolic link"},
        {"another's log, writable by all",
         [&](const QString&, const QString& path) {
             QFile wal(path + "-wal");
             EXPECT_TRUE(wal.open(QIODevice::WriteOnly));
             wal.close();
             foreign(path + "-wal", 0666);
         },
         "-wal"},
        {"another's owner folder",
         [&](const QString&, const QString& path) {
             QDir().mkpath(path + ".owners");
             foreign(path + ".owners", 0777);
         },
         ".owners"},
        {"a folder others can write to",
         [](const QString& folder, const QString&) {
             ::chmod(QFile::encodeName(folder).constData(), 0777);
         },
         "can be written by other users"},
        {"a sticky folder others can write to",
         [](const QString& folder, const QString&) {
             ::chmod(QFile::encodeName(folder).constData(), 01777);
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("shop");
        const QString path = folder + "/journal.sqlite";
        ASSERT_TRUE(QDir().mkpath(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        c.plant(folder, path);
        Journal journal;
        const bool opened = journal.open(path);
        if (QString(c.refusal).isEmpty()) {
            EXPECT_TRUE(opened) << journal.errorString().toStdString();
            continue;
        }
        EXPECT_FALSE(opened);
        EXPECT_TRUE(journal.errorString().contains(c.refusal))
            << journal.errorString().toStdString();
        EXPECT_FALSE(QFile::exists(folder + "/elsewhere.sqlite")) << "nothing made through a link";
    }
}

} // namespace

// A fresh install: the host's plug-in, a till command and the recovery timer may all open a
// journal nobody has made yet at the same moment, and an older one all migrate it at once.
// Every one of them must find a usable journal.
TEST(Journal, WritersOpeningAtOnceAllFindOneJournal)
{
    QTemporaryDir dir;
    for (int round = 0; round < 12; ++round) {
        const QString path = dir.filePath(QString("fresh-%1.sqlite").arg(round));
        QFile made(path); // empty: made by a till that has not written its tables yet
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
        if (round % 2 == 1) {
            runSql(path, VersionOne.c_str());
        }
        ::chmod(QFile::encodeName(path).constData(), 0600);
        std::atomic<int> ready{0};
        std::vector<std::thread> writers;
        std::vector<QString> errors(6);
        for (size_t i = 0; i < errors.size(); ++i) {
            writers.emplace_back([&, i] {
                ++ready;
                while (ready.load() < int(errors.size())) {
                }
                Journal journal;
                if (!journal.open(path, Journal::OpenMode::ExistingOnly)) {
                    errors[i] = journal.errorString();
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        for (const QString& error : errors) {
            EXPECT_TRUE(error.isEmpty()) << "round " << round << ": " << error.toStdString();
        }
    }
}

// What reconciliation and recovery keep stands beside the rows: it never moves a row's own
// times, which decide the purge and time the operation, and leaves with its row.
TEST(Journal, ReconciliationsAndRunsStandBesideTheRows)
{
    QTemporaryDir dir;
    Journal journal;
    ASSERT_TRUE(journal.open(dir.filePath("j.sqlite")));
    JournalEntry row = entry("old", State::Done);
    row.firstAnswer = QDateTime::fromMSecsSinceEpoch(1500, Qt::UTC);
    row.ended = QDateTime::fromMSecsSinceEpoch(4000, Qt::UTC);
    row.created = QDateTime::fromMSecsSinceEpoch(1000, Qt::UTC);
    row.amountKnown = false;
    ASSERT_TRUE(journal.record(&row));
    QVector<JournalEntry> before;
    ASSERT_TRUE(journal.entries(&before, false));
    ASSERT_TRUE(journal.noteReconciliation("old", "REVERSED"));
    ASSERT_TRUE(journal.noteRun("reconcile", 1, 3));
    QVector<JournalEntry> after;
    ASSERT_TRUE(journal.entries(&after, false));
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].changed, before[0].changed);
    EXPECT_EQ(after[0].durationMs(), 3000);
    EXPECT_EQ(after[0].firstAnswer, row.firstAnswer);
    EXPECT_FALSE(after[0].amountKnown);
    QHash<QString, Journal::Reconciliation> checked;
    ASSERT_TRUE(journal.reconciliations(&checked));
    EXPECT_EQ(checked.value("old").providerStatus, "REVERSED");
    Journal::Run run;
    ASSERT_TRUE(journal.lastRun("reconcile", &run));
    EXPECT_TRUE(run.finished.isValid() && run.exitCode == 1 && run.figure == 3);
    ASSERT_TRUE(journal.lastRun("recover", &run));
    EXPECT_FALSE(run.finished.isValid());

    EXPECT_EQ(journal.removeSettledBefore(after[0].changed.addSecs(1)), 1);
    ASSERT_TRUE(journal.reconciliations(&checked));
    EXPECT_TRUE(checked.isEmpty());
}

// A second handle opened in a process (a till that writes what its recovery did while the
// plug-in holds the journal) must leave the first one's locks in place: had its checks
// closed a descriptor of the files, the process would lose them, and another process would
// take the journal for unused and reset its log under it.
TEST(Journal, ASecondHandleInOneProcessKeepsTheLocksOfTheFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("held.sqlite");
    Journal first;
    JournalEntry row = entry("held", State::Waiting);
    ASSERT_TRUE(first.open(path) && first.record(&row));
    const auto lockedForOthers = [&](const QString& file) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR);
            struct flock probe {};
            probe.l_type = F_WRLCK;
            probe.l_whence = SEEK_SET;
            ::_exit(fd >= 0 && ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? 0
                                                                                            : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    ASSERT_TRUE(lockedForOthers(path + "-shm")) << "the open journal's index is locked";
    Journal second;
    ASSERT_TRUE(second.open(path, Journal::OpenMode::ExistingOnly))
        << second.errorString().toStdString();
    EXPECT_TRUE(lockedForOthers(path + "-shm")) << "the second open dropped the first's locks";
}
