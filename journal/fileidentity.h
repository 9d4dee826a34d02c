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
};

} // namespace oxlenpay
