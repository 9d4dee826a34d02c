#include "inifile.h"

#include "configlogging.h"

#include <QFile>

#include <sys/stat.h>

IniFile::IniFile(const QString& path, const QString& prefix) : m_path(path), m_prefix(prefix) {}

bool IniFile::refresh()
{
    struct stat info {};
    if (::stat(QFile::encodeName(m_path).constData(), &info) != 0) {
        if (m_present || !m_warnedMissing) {
            qCWarning(strovaConfig).noquote()
                << QStringLiteral("configuration file %1 not found; keeping earlier values")
                       .arg(m_path);
        }
        m_present = false;
        m_warnedMissing = true;
        return false;
    }
    const qint64 modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (m_present && modifiedNs == m_modifiedNs && qint64(info.st_size) == m_size) {
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(strovaConfig).noquote() << QStringLiteral("cannot read configuration file %1: %2")
                                                 .arg(m_path, file.errorString());
        return false;
    }
    m_present = true;
    m_modifiedNs = modifiedNs;
    m_size = qint64(info.st_size);
    parse(file.readAll());
    return true;
}

void IniFile::parse(const QByteArray& content)
{
    m_values.clear();
    QString section;
    const QList<QByteArray> lines = content.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = QString::fromUtf8(lines[index]).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) {
            continue;
        }
        auto malformed = [&](const char* why) {
            qCWarning(strovaConfig).noquote() << QStringLiteral("%1:%2: %3; line skipped")
                                                     .arg(m_path)
                                                     .arg(index + 1)
                                                     .arg(QLatin1String(why));
        };
        if (line.startsWith('[')) {
            if (!line.endsWith(']') || line.size() < 3) {
                malformed("malformed section header");
                continue;
            }
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf('=');
        if (equals <= 0) {
            malformed("expected name = value");
            continue;
        }
        const QString name = line.left(equals).trimmed();
        if (name.contains(':')) {
            // "Section:name" could no longer tell which part is which.
            malformed("a name may not hold ':'");
            continue;
        }
        QString value = line.mid(equals + 1).trimmed();
        if (value.startsWith('"')) {
            if (value.size() < 2 || !value.endsWith('"')) {
                malformed("unterminated quoted value");
                continue;
            }
            value = value.mid(1, value.size() - 2);
        }
        const QString key = section.isEmpty() ? name : section + ':' + name;
        m_values.insert(m_prefix + key, value);
    }
}
