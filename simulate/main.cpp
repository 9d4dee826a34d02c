// oxlenpay-simulate: seeded schedules of the plug-in, its journal and recovery in forked
// till processes against a model provider, in virtual time; see Simulation.
#include "config.h"
#include "faultplan.h"
#include "simulation.h"
#include "singleton.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMap>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using simulate::Simulation;

int usage()
{
    std::fputs(
        "usage: oxlenpay-simulate [--seeds N | --minutes M] [--jobs N] [--known-failures FILE]\n"
        "                         [--stop-at-first] [--no-shrink]\n"
        "       oxlenpay-simulate --seed S [--only-faults N,N,...|none] [--trace]\n"
        "                         [--trace-json FILE] [--shrink [KIND]]\n"
        "Runs seeds 1 to N (default 1000), for M minutes, or the one seed S. A violation of a\n"
        "kind FILE lists is counted apart; exit status 1 when any other kind was found.\n",
        stderr);
    return 2;
}

struct Options {
    quint32 seeds = 1000;
    qint64 only = -1;
    double minutes = 0;
    int jobs = 1;
    bool stopAtFirst = false;
    bool shrink = true;
    bool shrinkOne = false; ///< --seed S --shrink [KIND]: the shortest fault list of a violation
    QString shrinkKind;     ///< the kind to shrink for; the first violation's when empty
    QString traceJson;
    QString knownFile;
    Simulation::Options simulation;
};

/// The kinds of violation known to fail on today's code, each with the work that mends it.
QMap<QString, QString> readKnownFailures(const QString& path)
{
    QMap<QString, QString> known;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return known;
    }
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const int space = line.indexOf(QRegExp("\\s"));
        known.insert(space < 0 ? line : line.left(space),
                     space < 0 ? QString() : line.mid(space).trimmed());
    }
    return known;
}

bool writeConfig(const QString& root)
{
    const QString folder = root + "/pomerin/cash/paysystems/oxlenpay";
    QDir().mkpath(folder);
    QFile file(folder + "/oxlenpay.conf");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    file.write("[OxlenPay]\nhost = https://provider.invalid\nmerchantId = till-01\n"
               "merchantServiceId = 5001\nmerchantServiceUserId = merchant-user\n"
               "merchantSecretKey = simulated\nfrequency = 1000\npayDuration = 6000\n"
               "timeout = 3000\njournalDays = 1\njournal = " +
               Simulation::journalPathIn(root).toUtf8() + "\n");
    return true;
}

QString joined(const QVector<int>& numbers)
{
    QStringList texts;
    for (int number : numbers) {
        texts << QString::number(number);
    }
    return texts.isEmpty() ? "none" : texts.join(',');
}

bool hasNew(const QVector<Simulation::Violation>& found, const QMap<QString, QString>& known)
{
    return std::any_of(found.begin(), found.end(),
                       [&](const Simulation::Violation& v) { return !known.contains(v.kind); });
}

bool hasKind(const QVector<Simulation::Violation>& found, const QString& kind)
{
    return std::any_of(found.begin(), found.end(),
                       [&](const Simulation::Violation& v) { return v.kind == kind; });
}

/// The seed's fired faults, switched off one at a time until none can go and `kind` still
/// shows: a 1-minimal list.
QVector<int> shrink(quint32 seed, const QString& root, const QString& kind)
{
    QVector<int> faults;
    Simulation::Options options;
    {
        Simulation whole(seed, root, options);
        whole.run();
        for (const simulate::FaultPlan::Fired& fired : whole.plan().fired()) {
            faults << fired.number;
        }
    }
    for (bool removed = true; removed;) {
        removed = false;
        for (int i = 0; i < faults.size(); ++i) {
            QVector<int> fewer = faults;
            fewer.remove(i);
            options.restricted = true;
            options.onlyFaults = QSet<int>(fewer.begin(), fewer.end());
            Simulation trial(seed, root, options);
            if (hasKind(trial.run(), kind)) {
                faults = fewer;
                removed = true;
                break;
            }
        }
    }
    return faults;
}

struct Tally {
    quint32 schedules = 0;
    int violations = 0;
    int fresh = 0;
    QMap<QString, int> knownSeeds;
    QMap<QString, quint32> firstSeed;
};

/// Runs the seeds `next` hands out (0 ends) in `root`, printing what it finds to `out`.
Tally runSeeds(const std::function<quint32()>& next, const QString& root, const Options& options,
               const QMap<QString, QString>& known, QString* out)
{
    Tally tally;
    for (quint32 seed = next(); seed != 0; seed = next()) {
        const QVector<Simulation::Violation> found =
            Simulation(seed, root, options.simulation).run();
        ++tally.schedules;
        tally.violations += found.size();
        QSet<QString> kinds;
        for (const Simulation::Violation& v : found) {
            if (known.contains(v.kind)) {
                if (!kinds.contains(v.kind)) {
                    kinds.insert(v.kind);
                    ++tally.knownSeeds[v.kind];
                    if (!tally.firstSeed.contains(v.kind)) {
                        tally.firstSeed.insert(v.kind, seed);
                    }
                }
                continue;
            }
            ++tally.fresh;
            *out += QString("seed %1: %2: %3\n").arg(seed).arg(v.kind, v.what);
        }
        if (hasNew(found, known)) {
            QString kind;
            for (const Simulation::Violation& v : found) {
                if (!known.contains(v.kind)) {
                    kind = v.kind;
                    break;
                }
            }
            if (options.shrink) {
                const QString faults = joined(shrink(seed, root, kind));
                *out += QString("seed %1: shortest fault list for %2: %3\n")
                            .arg(seed)
                            .arg(kind, faults);
                *out += QString("replay: oxlenpay-simulate --seed %1 --only-faults %2 --trace\n")
                            .arg(seed)
                            .arg(faults);
            } else {
                *out += QString("replay: oxlenpay-simulate --seed %1 --trace\n").arg(seed);
            }
            if (options.stopAtFirst) {
                break;
            }
        }
    }
    return tally;
}

QJsonObject tallyJson(const Tally& tally)
{
    QJsonObject knownSeeds;
    QJsonObject firstSeed;
    for (auto it = tally.knownSeeds.begin(); it != tally.knownSeeds.end(); ++it) {
        knownSeeds.insert(it.key(), it.value());
        firstSeed.insert(it.key(), double(tally.firstSeed.value(it.key())));
    }
    return {{"schedules", double(tally.schedules)},
            {"violations", tally.violations},
            {"fresh", tally.fresh},
            {"knownSeeds", knownSeeds},
            {"firstSeed", firstSeed}};
}

void addTally(Tally* total, const QJsonObject& part)
{
    total->schedules += quint32(part.value("schedules").toDouble());
    total->violations += part.value("violations").toInt();
    total->fresh += part.value("fresh").toInt();
    const QJsonObject knownSeeds = part.value("knownSeeds").toObject();
    const QJsonObject firstSeed = part.value("firstSeed").toObject();
    for (const QString& kind : knownSeeds.keys()) {
        total->knownSeeds[kind] += knownSeeds.value(kind).toInt();
        const quint32 seed = quint32(firstSeed.value(kind).toDouble());
        if (!total->firstSeed.contains(kind) || seed < total->firstSeed.value(kind)) {
            total->firstSeed.insert(kind, seed);
        }
    }
}

/// A worker's own root: its configuration, its journal, its Config instance.
bool prepareRoot(const QString& root)
{
    qputenv("STROVA_ROOT", root.toUtf8());
    if (!writeConfig(root)) {
        return false;
    }
    Singleton<Config>::instance = new Config; // the host's, kept for the whole run
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // Each schedule opens and closes databases and forks tills: keep freed memory instead of
    // handing it back to the kernel and faulting it in again.
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    // SQLite gives every new connection twenty pages of cache at once and writes a header
    // into each: in a freshly forked till that is twenty-odd copied pages per open, most
    // never read into. Pages one at a time, as they are used, cost a quarter of the faults.
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    Options options;
    for (int i = 0; i < arguments.size(); ++i) {
        bool ok = true;
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--seeds" && hasValue) {
            options.seeds = arguments[++i].toUInt(&ok);
        } else if (argument == "--seed" && hasValue) {
            options.only = arguments[++i].toUInt(&ok);
        } else if (argument == "--minutes" && hasValue) {
            options.minutes = arguments[++i].toDouble(&ok);
        } else if (argument == "--jobs" && hasValue) {
            options.jobs = arguments[++i].toInt(&ok);
            ok = ok && options.jobs >= 1 && options.jobs <= 64;
        } else if (argument == "--known-failures" && hasValue) {
            options.knownFile = arguments[++i];
        } else if (argument == "--only-faults" && hasValue) {
            options.simulation.restricted = true;
            const QString list = arguments[++i];
            for (const QString& number : list.split(',', Qt::SkipEmptyParts)) {
                if (number != "none") {
                    options.simulation.onlyFaults.insert(number.toInt(&ok));
                }
            }
        } else if (argument == "--trace") {
            options.simulation.trace = true;
        } else if (argument == "--trace-json" && hasValue) {
            options.traceJson = arguments[++i];
            options.simulation.traceJson = true;
        } else if (argument == "--stop-at-first") {
            options.stopAtFirst = true;
        } else if (argument == "--no-shrink") {
            options.shrink = false;
        } else if (argument == "--shrink") {
            options.shrinkOne = true;
            if (hasValue && !arguments[i + 1].startsWith('-')) {
                options.shrinkKind = arguments[++i];
            }
        } else {
            ok = false;
        }
        if (!ok) {
            return usage();
        }
    }
    const bool single = options.only >= 0;
    if ((options.simulation.trace || options.simulation.traceJson ||
         options.simulation.restricted) &&
        !single) {
        return usage();
    }
    QLoggingCategory::setFilterRules("strova.*=false");
    const QMap<QString, QString> known = readKnownFailures(options.knownFile);
    if (!options.knownFile.isEmpty() && !QFile::exists(options.knownFile)) {
        std::fprintf(stderr, "oxlenpay-simulate: no file %s\n", qPrintable(options.knownFile));
        return 2;
    }

    // A tmpfs when there is one: the journal syncs at every commit.
    const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    QTemporaryDir root(base + "/oxlenpay-simulate-XXXXXX");
    if (!root.isValid()) {
        std::fprintf(stderr, "oxlenpay-simulate: cannot create a directory in %s\n",
                     qPrintable(base));
        return 2;
    }
    QElapsedTimer timer;
    timer.start();

    if (single) {
        if (!prepareRoot(root.path() + "/job0")) {
            return 2;
        }
        Simulation simulation(quint32(options.only), root.path() + "/job0", options.simulation);
        const QVector<Simulation::Violation> found = simulation.run();
        std::fputs(simulation.traceText().toUtf8().constData(), stdout);
        if (!options.traceJson.isEmpty()) {
            QFile json(options.traceJson);
            if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                std::fprintf(stderr, "oxlenpay-simulate: cannot write %s\n",
                             qPrintable(options.traceJson));
                return 2;
            }
            json.write(simulation.traceJson().toUtf8());
        }
        QStringList fired;
        for (const simulate::FaultPlan::Fired& f : simulation.plan().fired()) {
            fired << QString("%1 %2 (%3)").arg(f.number).arg(simulate::faultName(f.kind), f.what);
        }
        std::printf("faults fired: %s\n", fired.isEmpty() ? "none" : qPrintable(fired.join("; ")));
        for (const Simulation::Violation& v : found) {
            std::printf("seed %lld: %s: %s%s\n", options.only, qPrintable(v.kind),
                        qPrintable(v.what), known.contains(v.kind) ? " (known)" : "");
        }
        const QString kind = options.shrinkKind.isEmpty() && !found.isEmpty() ? found.first().kind
                                                                              : options.shrinkKind;
        if (options.shrinkOne && hasKind(found, kind)) {
            const QString faults =
                joined(shrink(quint32(options.only), root.path() + "/job0", kind));
            std::printf("shortest fault list for %s: %s\nreplay: oxlenpay-simulate --seed %lld "
                        "--only-faults %s --trace\n",
                        qPrintable(kind), qPrintable(faults), options.only, qPrintable(faults));
        }
        std::printf("simulated 1 schedules: %d violations, %d new\n", int(found.size()),
                    int(std::count_if(found.begin(), found.end(),
                                      [&](const auto& v) { return !known.contains(v.kind); })));
        return hasNew(found, known) ? 1 : 0;
    }

    // Each job runs in a process of its own over its own seeds; their output is printed in
    // the jobs' order, so that it is the same for every --jobs value.
    const int jobs = options.jobs;
    QVector<pid_t> workers;
    QVector<int> pipes;
    for (int job = 0; job < jobs; ++job) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return 2;
        }
        std::fflush(stdout);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const QString jobRoot = root.path() + QString("/job%1").arg(job);
            if (!prepareRoot(jobRoot)) {
                ::_exit(2);
            }
            quint32 next = 0;
            std::function<quint32()> hand;
            if (options.minutes > 0) {
                next = quint32(job + 1);
                hand = [&]() -> quint32 {
                    if (timer.elapsed() > qint64(options.minutes * 60000)) {
                        return 0;
                    }
                    const quint32 seed = next;
                    next += quint32(jobs);
                    return seed;
                };
            } else {
                const quint32 per = (options.seeds + quint32(jobs) - 1) / quint32(jobs);
                next = quint32(job) * per + 1;
                const quint32 last = qMin(options.seeds, quint32(job + 1) * per);
                hand = [&, last]() -> quint32 { return next <= last ? next++ : 0; };
            }
            QString out;
            const Tally tally = runSeeds(hand, jobRoot, options, known, &out);
            const QByteArray text = out.toUtf8() + "\x1e" +
                                    QJsonDocument(tallyJson(tally)).toJson(QJsonDocument::Compact);
            for (qint64 sent = 0; sent < text.size();) {
                const ssize_t n =
                    ::write(fds[1], text.constData() + sent, size_t(text.size() - sent));
                if (n <= 0) {
                    break;
                }
                sent += n;
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        workers << pid;
        pipes << fds[0];
    }
    QVector<QByteArray> outputs(jobs);
    QVector<bool> open(jobs, true);
    for (int left = jobs; left > 0;) {
        QVector<pollfd> waiting;
        QVector<int> which;
        for (int job = 0; job < jobs; ++job) {
            if (open[job]) {
                waiting.append({pipes[job], POLLIN, 0});
                which << job;
            }
        }
        ::poll(waiting.data(), nfds_t(waiting.size()), -1);
        for (int i = 0; i < waiting.size(); ++i) {
            if (!(waiting[i].revents & (POLLIN | POLLHUP))) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::read(waiting[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                outputs[which[i]].append(buffer, int(n));
            } else {
                open[which[i]] = false;
                ::close(waiting[i].fd);
                --left;
            }
        }
    }
    Tally total;
    bool complete = true;
    for (int job = 0; job < jobs; ++job) {
        int status = 0;
        ::waitpid(workers[job], &status, 0);
        const int split = outputs[job].lastIndexOf('\x1e');
        if (split < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "oxlenpay-simulate: job %d ended abnormally\n", job);
            complete = false;
            continue;
        }
        std::fwrite(outputs[job].constData(), 1, size_t(split), stdout);
        addTally(&total, QJsonDocument::fromJson(outputs[job].mid(split + 1)).object());
    }
    for (auto it = total.knownSeeds.begin(); it != total.knownSeeds.end(); ++it) {
        std::printf("known failure %s (%s): %d seeds, the first seed %u\n", qPrintable(it.key()),
                    qPrintable(known.value(it.key())), it.value(), total.firstSeed.value(it.key()));
    }
    std::printf("simulated %u schedules: %d violations, %d new\n", total.schedules,
                total.violations, total.fresh);
    std::fprintf(stderr, "%.1f s, %.0f schedules/s with %d jobs\n", timer.elapsed() / 1000.0,
                 total.schedules * 1000.0 / qMax<qint64>(timer.elapsed(), 1), jobs);
    return complete && total.fresh == 0 ? 0 : 1;
}
