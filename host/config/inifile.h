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
    /// True when the open file and its folder show no change since the last look.
    bool surelyUnchanged(qint64 nowMs) const;
    void openFiles();
    void forgetOpenFiles();

    QString m_path;
    QString m_prefix;
    QByteArray m_encodedPath;
    QByteArray m_encodedFolder;
    // The file and its folder, open since the file was last read; -1 when not.
    int m_fileFd = -1;
    int m_folderFd = -1;
    qint64 m_folderModifiedNs = -1;
    qint64 m_lastPathStatMs = 0;
    bool m_present = false;
    bool m_warnedMissing = false;
    // The file as stat() saw it when last read: compared as numbers, never as local time.
    qint64 m_modifiedNs = -1;
    qint64 m_size = -1;
    // Which file: another one renamed over the path is read even with the same time and size.
    struct FileIdentity {
        quint64 device = 0, inode = 0;
        bool operator==(const FileIdentity& o) const
        {
            return device == o.device && inode == o.inode;
        }
    } m_identity;
    QHash<QString, QString> m_values;
};
