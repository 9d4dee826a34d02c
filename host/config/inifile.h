#pragma once

#include <QHash>
#include <QString>

/// One INI file as last read from disk: "[Section]" headers, "name = value"
/// lines, ';' and '#' comments. A value may be put in double quotes to keep
/// blanks at its ends. Keys are stored as "Section:name".
class IniFile {
public:
    IniFile(const QString& path, const QString& prefix);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    QString path() const { return m_path; }
    /// Reads the file again when its size or modification time changed.
    /// Returns true when the values were replaced.
    bool refresh();
    const QHash<QString, QString>& values() const { return m_values; }

private:
    void parse(const QByteArray& content);
    /// False when the file's folder surely saw no change since the last look.
    bool mayHaveChanged();

    // An inotify watch on the file's folder: while it reports nothing, a lookup needs no
    // stat(). -1: none (no folder, no inotify, a symbolic link); then every lookup stats.
    int m_watch = -1;
    qint64 m_lastStatMs = 0;

    QString m_path;
    QString m_prefix;
    QByteArray m_encodedPath;
    bool m_present = false;
    bool m_warnedMissing = false;
    // The file as stat() saw it when last read: compared as numbers, never as local
    // time, so a look costs one system call.
    qint64 m_modifiedNs = -1;
    qint64 m_size = -1;
    QHash<QString, QString> m_values;
};
