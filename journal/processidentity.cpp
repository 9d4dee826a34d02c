#include "processidentity.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <mutex>
#include <unistd.h>

namespace oxlenpay {

namespace {

// Field 22 of /proc/PID/stat; -1 when there is no such process.
qint64 startTicksOf(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold spaces and parentheses: count from its end.
    const int nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0) {
        return -1;
    }
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    constexpr int StartTimeAfterName = 22 - 3;
    return fields.size() > StartTimeAfterName ? fields[StartTimeAfterName].toLongLong() : -1;
}

} // namespace

ProcessIdentity ProcessIdentity::current()
{
    // Read once per process: a row is written for every operation, and a forked child
    // has a pid of its own, so the cache is keyed by it.
    static std::mutex mutex;
    static ProcessIdentity known{0, -1};
    const qint64 pid = ::getpid();
    std::lock_guard<std::mutex> lock(mutex);
    if (known.pid != pid) {
        known = {pid, startTicksOf(pid)};
    }
    return known;
}

ProcessIdentity ProcessIdentity::of(qint64 pid)
{
    return {pid, startTicksOf(pid)};
}

bool ProcessIdentity::isAlive(qint64 pid, qint64 startTicks)
{
    return pid > 0 && startTicks >= 0 && startTicksOf(pid) == startTicks;
}

} // namespace oxlenpay
