#include "inifile.h"

#include "configlogging.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// However quiet the folder looks, the path itself is looked up this often: a folder
// moved away with the file in it is still noticed.
constexpr qint64 StatPathAtLeastEveryMs = 1000;

qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

IniFile::IniFile(const QString& path, const QString& prefix)
    : m_path(path), m_prefix(prefix), m_encodedPath(QFile::encodeName(path)),
      m_encodedFolder(QFile::encodeName(QFileInfo(path).absolutePath()))
{
}

IniFile::~IniFile()
{
    forgetOpenFiles();
}

void IniFile::forgetOpenFiles()
{
    for (int* fd : {&m_fileFd, &m_folderFd}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void IniFile::openFiles()
{
    forgetOpenFiles();
    m_fileFd = ::open(m_encodedPath.constData(), O_RDONLY | O_CLOEXEC);
    m_folderFd = ::open(m_encodedFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool IniFile::surelyUnchanged(qint64 nowMs) const
{
    // Two fstat() calls on open descriptors cost far less than a stat() that walks the
    // path: the file's own times show a write in place, the folder's a rename, a new file
    // or a deletion.
    struct stat file {
    }, folder{};
    return m_present && m_fileFd >= 0 && m_folderFd >= 0 &&
           nowMs - m_lastPathStatMs < StatPathAtLeastEveryMs && ::fstat(m_folderFd, &folder) == 0 &&
           nanoseconds(folder.st_mtim) == m_folderModifiedNs && ::fstat(m_fileFd, &file) == 0 &&
           nanoseconds(file.st_mtim) == m_modifiedNs && qint64(file.st_size) == m_size;
}

bool IniFile::refresh()
{
    const qint64 nowMs = QDeadlineTimer::current().deadline();
    if (surelyUnchanged(nowMs)) {
        return false;
    }
    m_lastPathStatMs = nowMs;
    // The folder first: a change after this look shows at the next.
    struct stat folder {};
    const bool folderSeen = ::stat(m_encodedFolder.constData(), &folder) == 0;
    struct stat info {};
    if (::stat(m_encodedPath.constData(), &info) != 0) {
        forgetOpenFiles();
        if (m_present || !m_warnedMissing) {
            qCWarning(strovaConfig).noquote()
                << QStringLiteral("configuration file %1 not found; keeping earlier values")
                       .arg(m_path);
        }
        m_present = false;
        m_warnedMissing = true;
        return false;
    }
    const qint64 modifiedNs = nanoseconds(info.st_mtim);
    m_folderModifiedNs = folderSeen ? nanoseconds(folder.st_mtim) : -1;
    const FileIdentity identity{quint64(info.st_dev), quint64(info.st_ino)};
    if (m_present && modifiedNs == m_modifiedNs && qint64(info.st_size) == m_size &&
        identity == m_identity) {
        return false;
    }
    // Unbuffered: read straight into the text, without the 16 KiB buffer a buffered read
    // allocates and fills first, for a file of a few hundred bytes.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qCWarning(strovaConfig).noquote() << QStringLiteral("cannot read configuration file %1: %2")
                                                 .arg(m_path, file.errorString());
        return false;
    }
    m_present = true;
    m_modifiedNs = modifiedNs;
    m_size = qint64(info.st_size);
    m_identity = identity;
    parse(file.readAll());
    openFiles();
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
