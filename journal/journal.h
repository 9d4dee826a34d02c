#pragma once

#include "journalentry.h"

#include <QString>
#include <QVector>

#include <memory>

namespace oxlenpay {

/// The payment journal: an SQLite database of the provider operations that move
/// money, written before each request leaves so that a crash loses none of them.
///
/// Every write is committed and synced before it returns. One object may be used
/// from several threads; several processes may share one file.
class Journal {
public:
    enum class OpenMode { CreateIfMissing, ExistingOnly };

    Journal();
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    /// Opens the database at `path`, creating its tables in a new or empty file.
    /// False, with the reason in errorString(), for anything that is not a journal.
    bool open(const QString& path, OpenMode mode = OpenMode::CreateIfMissing);
    void close();
    bool isOpen() const;
    QString path() const;
    /// Why the last call that returned false failed.
    QString errorString() const;

    /// Writes a new entry or the change of a known one; sets `changed` (and a missing
    /// `created`) to now. The creation time and the operation of a known entry stay.
    bool record(JournalEntry* entry);
    /// The entries, newest first; only the open ones when `openOnly`.
    bool entries(QVector<JournalEntry>* out, bool openOnly) const;
    /// Deletes the closed entries last changed before `before`; their number, or -1.
    int removeClosedBefore(const QDateTime& before);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace oxlenpay
