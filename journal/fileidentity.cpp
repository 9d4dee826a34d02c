#include "fileidentity.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlenpay {

namespace {

// Whether `path` (a file, or a folder when `folder`) can be written by this process: its
// mode for this user (root ignores the mode bits, so that alone proves nothing), and
// neither the immutable nor the append-only flag, which stop root too. SQLite maps the
// "-shm" file: one it cannot write ends the process with SIGBUS instead of an error.
bool writableFile(const QString& path, bool folder, QString* problem)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        return true; // made anew, by this process
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW |
                                                (folder ? O_DIRECTORY : 0));
    int flags = 0;
    const bool known = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
        *problem = QString("%1 is marked %2: nothing can change it")
                       .arg(path, (flags & FS_IMMUTABLE_FL) ? "immutable" : "append-only");
        return false;
    }
    const int access = folder ? W_OK | X_OK : W_OK | R_OK;
    if (::faccessat(AT_FDCWD, name.constData(), access, AT_EACCESS) != 0) {
        *problem = QString("%1 cannot be written by this user").arg(path);
        return false;
    }
    return true;
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
