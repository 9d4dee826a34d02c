#include "inifile.h"

#include "configlogging.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Even while the watch reports nothing, the file is looked at this often: a file system
// that sends no events (a network share) is still followed.
constexpr qint64 StatAtLeastEveryMs = 1000;

} // namespace

IniFile::IniFile(const QString& path, const QString& prefix)
    : m_path(path), m_prefix(prefix), m_encodedPath(QFile::encodeName(path))
{
    struct stat link {};
    const bool symbolicLink =
        ::lstat(m_encodedPath.constData(), &link) == 0 && S_ISLNK(link.st_mode);
    m_watch = symbolicLink ? -1 : ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (m_watch >= 0 && ::inotify_add_watch(m_watch, folder.constData(),
                                            IN_ONLYDIR | IN_CREATE | IN_DELETE | IN_MODIFY |
                                                IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                                IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        ::close(m_watch);
        m_watch = -1;
    }
}

IniFile::~IniFile()
{
    if (m_watch >= 0) {
        ::close(m_watch);
    }
}

bool IniFile::mayHaveChanged()
{
    const qint64 nowMs = QDeadlineTimer::current().deadline();
    if (m_watch < 0 || !m_present || nowMs - m_lastStatMs >= StatAtLeastEveryMs) {
        return true;
    }
    bool changed = false;
    alignas(inotify_event) char events[4096];
    ssize_t got = 0;
    while ((got = ::read(m_watch, events, sizeof events)) > 0) {
        changed = true; // any event in the folder, an overflow included
    }
    return changed || (got < 0 && errno != EAGAIN);
}

bool IniFile::refresh()
{
    if (!mayHaveChanged()) {
        return false;
    }
    m_lastStatMs = QDeadlineTimer::current().deadline();
    struct stat info {};
    if (::stat(m_encodedPath.constData(), &info) != 0) {
        if (m_present || !m_warnedMissing) {
            qCWarning(strovaConfig).noquote()
                << QStringLiteral("configuration file %1 not found; keeping earlier values")
                       .arg(m_path);
        }
        m_present = false;
        m_warnedMissing = true;
        return false;
    }
    const qint64 modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (m_present && modifiedNs == m_modifiedNs && qint64(info.st_size) == m_size) {
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(strovaConfig).noquote() << QStringLiteral("cannot read configuration file %1: %2")
                                                 .arg(m_path, file.errorString());
        return false;
    }
    m_present = true;
    m_modifiedNs = modifiedNs;
    m_size = qint64(info.st_size);
    parse(file.readAll());
    return true;
}

void IniFile::parse(const QByteArray& content)
{
    m_values.clear();
    QString section;
    const QList<QByteArray> lines = content.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = QString::fromUtf8(lines[index]).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) {
            continue;
        }
        auto malformed = [&](const char* why) {
            qCWarning(strovaConfig).noquote() << QStringLiteral("%1:%2: %3; line skipped")
                                                     .arg(m_path)
                                                     .arg(index + 1)
                                                     .arg(QLatin1String(why));
        };
        if (line.startsWith('[')) {
            if (!line.endsWith(']') || line.size() < 3) {
                malformed("malformed section header");
                continue;
            }
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf('=');
        if (equals <= 0) {
            malformed("expected name = value");
            continue;
        }
        const QString name = line.left(equals).trimmed();
        if (name.contains(':')) {
            // "Section:name" could no longer tell which part is which.
            malformed("a name may not hold ':'");
            continue;
        }
        QString value = line.mid(equals + 1).trimmed();
        if (value.startsWith('"')) {
            if (value.size() < 2 || !value.endsWith('"')) {
                malformed("unterminated quoted value");
                continue;
            }
            value = value.mid(1, value.size() - 2);
        }
        const QString key = section.isEmpty() ? name : section + ':' + name;
        m_values.insert(m_prefix + key, value);
    }
}
