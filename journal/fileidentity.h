#pragma once

#include <QString>

#include <sys/types.h>

namespace oxlenpay {

/// Which file a path names now: a journal whose folder was deleted and made anew under a
/// running till is another file at the same path.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;

    static FileIdentity of(const QString& path);
    bool operator==(const FileIdentity& other) const
    {
        return known && other.known && device == other.device && inode == other.inode;
    }

    /// Whether the journal at `path`, its write-ahead log, its shared-memory index and its
    /// folder can all be written by this process, checked before SQLite opens or maps any
    /// of them; false, with the reason, when not.
    static bool writableInPlace(const QString& path, QString* problem);
    /// Whether no other local user can steer the journal at `path`: its folder belongs to
    /// this user or to root and only they can write to it (or it is sticky), and the
    /// database, its "-wal" and "-shm" and its ".owners" folder, where they exist, are no
    /// symbolic links, belong to this user and are writable by nobody else. False, with the
    /// reason naming the file, when not.
    static bool ownedSafely(const QString& path, QString* problem);
    /// The database file opened without following a link, checked on its descriptor: a
    /// regular file of this user that nobody else can write.
    static bool openedSafely(const QString& path, QString* problem);
};

} // namespace oxlenpay
