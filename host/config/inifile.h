#pragma once

#include <QHash>
#include <QString>

/// One INI file as last read from disk: "[Section]" headers, "name = value"
/// lines, ';' and '#' comments. A value may be put in double quotes to keep
/// blanks at its ends. Keys are stored as "Section:name".
class IniFile {
public:
    IniFile(const QString& path, const QString& prefix);

    QString path() const { return m_path; }
    /// Reads the file again when its size or modification time changed.
    /// Returns true when the values were replaced.
    bool refresh();
    const QHash<QString, QString>& values() const { return m_values; }

private:
    void parse(const QByteArray& content);

    QString m_path;
    QString m_prefix;
    bool m_present = false;
    bool m_warnedMissing = false;
    // The file as stat() saw it when last read: compared as numbers, never as local
    // time, so a lookup costs one system call.
    qint64 m_modifiedNs = -1;
    qint64 m_size = -1;
    QHash<QString, QString> m_values;
};
