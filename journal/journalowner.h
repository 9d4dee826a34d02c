#pragma once

#include <QString>

#include <functional>

namespace oxlenpay {

/// A journal handle's claim on the rows it works on: a file in "<journal>.owners/"
/// held under flock for as long as the handle lives.
///
/// A lock lives exactly as long as the open file behind it, so it frees itself when
/// its process dies, however it dies, and it holds across PID namespaces that share
/// the file system: no pid is ever compared.
class JournalOwner {
public:
    JournalOwner();
    ~JournalOwner();
    JournalOwner(const JournalOwner&) = delete;
    JournalOwner& operator=(const JournalOwner&) = delete;

    /// Creates and locks this handle's file beside `journalPath`; again after it vanished.
    bool take(const QString& journalPath, QString* error);
    /// True while the locked file is still the one at its path.
    bool holds() const;
    void release();
    /// The name the journal's rows carry in their owner column.
    QString token() const { return m_token; }

    /// True while the handle named `token` holds its lock. An empty or malformed token
    /// names nobody. A file whose lock is free is removed on the way.
    static bool isAlive(const QString& journalPath, const QString& token);
    /// Where new handles' names come from (a random UUID); a simulation seeds them so that
    /// a seed replays exactly.
    static inline std::function<QString()> newToken;
    static QString directoryOf(const QString& journalPath);

private:
    QString m_token;
    QString m_path;
    int m_fd = -1;
};

} // namespace oxlenpay
