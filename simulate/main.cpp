// oxlenpay-simulate: seeded schedules of the client, the journal and recovery against a
// model provider in virtual time; see Simulation.
#include "config.h"
#include "simulation.h"
#include "singleton.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>

namespace {

int usage()
{
    std::fputs("usage: oxlenpay-simulate [--seeds N] [--seed S [--trace]]\n"
               "Runs seeds 1 to N (default 1000), or the one seed S, step by step with --trace.\n"
               "Exit status 1 when any invariant was violated.\n",
               stderr);
    return 2;
}

bool writeConfig(const QString& root, const QString& journal)
{
    const QString path = root + "/pomerin/cash/paysystems/oxlenpay/oxlenpay.conf";
    QDir().mkpath(root + "/pomerin/cash/paysystems/oxlenpay");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    file.write("[OxlenPay]\nhost = https://provider.invalid\nmerchantId = till-01\n"
               "merchantServiceId = 5001\nmerchantServiceUserId = merchant-user\n"
               "merchantSecretKey = simulated\nfrequency = 1000\npayDuration = 6000\n"
               "timeout = 3000\njournalDays = 1\njournal = " +
               journal.toUtf8() + "\n");
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // Each schedule opens and closes a few databases: keep the freed memory instead of
    // handing it back to the kernel and faulting it in again.
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    quint32 seeds = 1000;
    qint64 only = -1;
    bool trace = false;
    for (int i = 0; i < arguments.size(); ++i) {
        bool ok = true;
        if (arguments[i] == "--seeds" && i + 1 < arguments.size()) {
            seeds = arguments[++i].toUInt(&ok);
        } else if (arguments[i] == "--seed" && i + 1 < arguments.size()) {
            only = arguments[++i].toUInt(&ok);
        } else if (arguments[i] == "--trace") {
            trace = true;
        } else {
            ok = false;
        }
        if (!ok) {
            return usage();
        }
    }
    if (trace && only < 0) {
        return usage();
    }
    QLoggingCategory::setFilterRules(trace ? "strova.*=false" : "oxlenpay=false\nstrova.*=false");

    // A tmpfs when there is one: the journal syncs at every commit.
    const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    QTemporaryDir root(base + "/oxlenpay-simulate-XXXXXX");
    if (!root.isValid()) {
        std::fprintf(stderr, "oxlenpay-simulate: cannot create a directory in %s\n",
                     qPrintable(base));
        return 2;
    }
    qputenv("STROVA_ROOT", root.path().toUtf8());
    if (!writeConfig(root.path(), root.path() + "/journal.sqlite")) {
        std::fprintf(stderr, "oxlenpay-simulate: cannot write the configuration\n");
        return 2;
    }
    Singleton<Config>::instance = new Config; // the host's, kept for the whole run

    QElapsedTimer timer;
    timer.start();
    const quint32 first = only >= 0 ? quint32(only) : 1;
    const quint32 last = only >= 0 ? quint32(only) : seeds;
    int violations = 0;
    for (quint32 seed = first; seed <= last; ++seed) {
        const QStringList found = simulate::Simulation(seed, root.path(), trace).run();
        for (const QString& what : found) {
            std::printf("seed %u: %s\n", seed, what.toUtf8().constData());
        }
        if (!found.isEmpty()) {
            std::printf("replay: oxlenpay-simulate --seed %u --trace\n", seed);
        }
        violations += found.size();
    }
    const quint32 count = last - first + 1;
    std::printf("simulated %u schedules: %d violations (%.1f s, %.0f schedules/s)\n", count,
                violations, timer.elapsed() / 1000.0,
                count * 1000.0 / qMax<qint64>(timer.elapsed(), 1));
    return violations == 0 ? 0 : 1;
}
