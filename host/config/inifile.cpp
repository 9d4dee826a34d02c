#include "inifile.h"

#include "configlogging.h"

#include <QFile>
#include <QFileInfo>

IniFile::IniFile(const QString& path, const QString& prefix) : m_path(path), m_prefix(prefix) {}

bool IniFile::refresh()
{
    const QFileInfo info(m_path);
    if (!info.exists()) {
        if (m_present || m_modified.isNull()) {
            qCWarning(strovaConfig).noquote()
                << QStringLiteral("configuration file %1 not found; keeping earlier values")
                       .arg(m_path);
        }
        m_present = false;
        m_modified = QDateTime::fromMSecsSinceEpoch(0);
        return false;
    }
    const QDateTime modified = info.fileTime(QFileDevice::FileModificationTime);
    if (m_present && modified == m_modified && info.size() == m_size) {
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(strovaConfig).noquote() << QStringLiteral("cannot read configuration file %1: %2")
                                                 .arg(m_path, file.errorString());
        return false;
    }
    m_present = true;
    m_modified = modified;
    m_size = info.size();
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
