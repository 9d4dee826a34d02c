#include "journalowner.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxlenpay {

namespace {

/// A token names a file in the owners' folder: 36 of [0-9a-f-], so that a row's text can
/// never point the check at another path. Checked by hand: a pattern would be compiled
/// afresh by every till process, for a few dozen characters.
bool isToken(const QString& token)
{
    return token.size() == 36 && std::all_of(token.begin(), token.end(), [](QChar c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
           });
}

} // namespace

JournalOwner::JournalOwner()
    : m_token(newToken ? newToken() : QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

JournalOwner::~JournalOwner()
{
    release();
}

QString JournalOwner::directoryOf(const QString& journalPath)
{
    return journalPath + ".owners";
}

bool JournalOwner::take(const QString& journalPath, QString* error)
{
    release();
    const QString directory = directoryOf(journalPath);
    if (!QDir().mkpath(directory)) {
        *error = "cannot create " + directory;
        return false;
    }
    if (::chmod(QFile::encodeName(directory).constData(), 0700) != 0) {
        *error = QString("cannot make %1 private: %2")
                     .arg(directory, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // Locked under a passing name first, so nobody sees the file unlocked and removes it.
    const QString passing = directory + "/." + m_token;
    const QByteArray passingName = QFile::encodeName(passing);
    m_fd = ::open(passingName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        *error =
            QString("cannot lock %1: %2").arg(passing, QString::fromLocal8Bit(strerror(errno)));
        release();
        return false;
    }
    m_path = directory + '/' + m_token;
    if (::rename(passingName.constData(), QFile::encodeName(m_path).constData()) != 0) {
        *error = QString("cannot name %1: %2").arg(m_path, QString::fromLocal8Bit(strerror(errno)));
        ::unlink(passingName.constData());
        release();
        return false;
    }
    return true;
}

bool JournalOwner::holds() const
{
    struct stat atPath {};
    struct stat held {};
    return m_fd >= 0 && ::stat(QFile::encodeName(m_path).constData(), &atPath) == 0 &&
           ::fstat(m_fd, &held) == 0 && atPath.st_dev == held.st_dev &&
           atPath.st_ino == held.st_ino;
}

void JournalOwner::release()
{
    if (m_fd >= 0) {
        if (holds()) {
            ::unlink(QFile::encodeName(m_path).constData());
        }
        ::close(m_fd);
        m_fd = -1;
    }
    m_path.clear();
}

bool JournalOwner::isAlive(const QString& journalPath, const QString& token)
{
    if (!isToken(token)) {
        return false;
    }
    const QByteArray path = QFile::encodeName(directoryOf(journalPath) + '/' + token);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!locked) {
        ::unlink(path.constData()); // its handle is gone: nothing will ever lock it again
    }
    ::close(fd);
    return locked;
}

} // namespace oxlenpay
