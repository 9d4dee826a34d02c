// What writing the payment journal costs a sale: each entry is committed and synced to
// disk before the call returns, and a sale writes three (sending, waiting, closed).
//   build/bench/oxlenpay-bench --benchmark_filter=Journal
// The database is made in $TMPDIR (or /tmp): point it at the disk a till really uses.
#include "journal.h"
#include "processidentity.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using oxlenpay::JournalEntry;

struct OpenJournal {
    QTemporaryDir dir;
    oxlenpay::Journal journal;
    OpenJournal()
    {
        if (!journal.open(dir.filePath("journal.sqlite"))) {
            qFatal("%s", qPrintable(journal.errorString()));
        }
    }
};

JournalEntry saleEntry(int n)
{
    JournalEntry entry;
    entry.id = QString("bench-%1-7f0c6a52-93b1-4a8e-8a2f").arg(n);
    entry.amount = 1500;
    entry.currency = 398;
    entry.ownerPid = oxlenpay::ProcessIdentity::current().pid;
    return entry;
}

// One new entry, written and synced: what a sale waits before its request leaves.
void BM_JournalSyncedInsert(benchmark::State& state)
{
    OpenJournal open;
    int n = 0;
    for (auto _ : state) {
        JournalEntry entry = saleEntry(++n);
        if (!open.journal.record(&entry)) {
            state.SkipWithError("write failed");
        }
    }
}
BENCHMARK(BM_JournalSyncedInsert)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The three writes of a whole sale.
void BM_JournalWholeSale(benchmark::State& state)
{
    OpenJournal open;
    int n = 0;
    for (auto _ : state) {
        JournalEntry entry = saleEntry(++n);
        bool ok = open.journal.record(&entry);
        entry.state = JournalEntry::State::Waiting;
        entry.paymentId = "100000000001";
        ok &= open.journal.record(&entry);
        entry.state = JournalEntry::State::Done;
        ok &= open.journal.record(&entry);
        if (!ok) {
            state.SkipWithError("write failed");
        }
    }
}
BENCHMARK(BM_JournalWholeSale)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Opening a journal that exists, as every till command and every host start does: the
// safety checks on the file, the schema's check and the connection's settings.
void BM_JournalOpenExisting(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.sqlite");
    {
        oxlenpay::Journal journal;
        if (!journal.open(path)) {
            qFatal("%s", qPrintable(journal.errorString()));
        }
        for (int n = 0; n < 50; ++n) {
            JournalEntry entry = saleEntry(n);
            journal.record(&entry);
        }
    }
    for (auto _ : state) {
        oxlenpay::Journal journal;
        if (!journal.open(path, oxlenpay::Journal::OpenMode::ExistingOnly)) {
            state.SkipWithError("open failed");
        }
    }
}
BENCHMARK(BM_JournalOpenExisting)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
