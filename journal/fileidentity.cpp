#include "fileidentity.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlenpay {

namespace {

// Whether `path` (a file, or a folder when `folder`) can be written by this process: its
// mode for this user (root ignores the mode bits, so that alone proves nothing), and
// neither the immutable nor the append-only flag, which stop root too. SQLite maps the
// "-shm" file: one it cannot write ends the process with SIGBUS instead of an error.
// No descriptor of the file is opened: closing one would drop every POSIX lock this process
// holds on it, SQLite's included, when another handle of this process has the journal open;
// another process could then take the journal for unused and reset the log under it.
bool writableFile(const QString& path, bool folder, QString* problem)
{
    const QByteArray name = QFile::encodeName(path);
    struct statx info {};
    if (::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) != 0) {
        return true; // made anew, by this process
    }
    const quint64 stopped = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    if ((info.stx_attributes_mask & info.stx_attributes & stopped) != 0) {
        *problem = QString("%1 is marked %2: nothing can change it")
                       .arg(path, (info.stx_attributes & STATX_ATTR_IMMUTABLE) ? "immutable"
                                                                               : "append-only");
        return false;
    }
    const int access = folder ? W_OK | X_OK : W_OK | R_OK;
    if (::faccessat(AT_FDCWD, name.constData(), access, AT_EACCESS) != 0) {
        *problem = QString("%1 cannot be written by this user").arg(path);
        return false;
    }
    return true;
}

// A file of this user that nobody else can write.
bool ownFile(const QString& path, const struct stat& info, QString* problem)
{
    if (info.st_uid != ::geteuid()) {
        *problem = QString("%1 belongs to another user (uid %2)").arg(path).arg(info.st_uid);
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *problem = QString("%1 can be written by other users (mode %2)")
                       .arg(path)
                       .arg(info.st_mode & 07777, 4, 8, QChar('0'));
        return false;
    }
    return true;
}

// Where it exists: no link, of the expected kind, and this user's alone.
bool ownEntry(const QString& path, bool folder, QString* problem)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return true; // made by this process, for this user
    }
    if (S_ISLNK(info.st_mode)) {
        *problem = QString("%1 is a symbolic link: the journal's files are never followed "
                           "elsewhere")
                       .arg(path);
        return false;
    }
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
        *problem = QString("%1 is not a %2").arg(path, folder ? "folder" : "regular file");
        return false;
    }
    return ownFile(path, info, problem);
}

} // namespace

FileIdentity FileIdentity::of(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {info.st_dev, info.st_ino, true};
}

bool FileIdentity::writableInPlace(const QString& path, QString* problem)
{
    return writableFile(QFileInfo(path).absolutePath(), true, problem) &&
           writableFile(path, false, problem) && writableFile(path + "-wal", false, problem) &&
           writableFile(path + "-shm", false, problem);
}

} // namespace oxlenpay

namespace oxlenpay {

bool FileIdentity::ownedSafely(const QString& path, QString* problem)
{
    const QString folder = QFileInfo(path).absolutePath();
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) == 0) {
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            *problem = QString("the journal's folder %1 belongs to another user (uid %2)")
                           .arg(folder)
                           .arg(info.st_uid);
            return false;
        }
        // Another user who may write there could swap a file between our checks and
        // SQLite's own opens of the log and the index; a sticky folder lets nobody remove
        // or rename another's file.
        if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
            *problem = QString("the journal's folder %1 can be written by other users (mode %2)")
                           .arg(folder)
                           .arg(info.st_mode & 07777, 4, 8, QChar('0'));
            return false;
        }
    }
    return ownEntry(path, false, problem) && ownEntry(path + "-wal", false, problem) &&
           ownEntry(path + "-shm", false, problem) && ownEntry(path + ".owners", true, problem);
}

bool FileIdentity::openedSafely(const QString& path, QString* problem)
{
    // A path descriptor: closing it drops no POSIX lock of this process (see writableFile).
    const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *problem = QString("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat info {};
    const bool read = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!read || !S_ISREG(info.st_mode)) {
        *problem = QString("%1 is not a regular file").arg(path);
        return false;
    }
    return ownFile(path, info, problem);
}

} // namespace oxlenpay
