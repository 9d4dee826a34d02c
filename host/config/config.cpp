#include "config.h"

#include "configlogging.h"
#include "inifile.h"

#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QVector>

#include <memory>

Q_LOGGING_CATEGORY(strovaConfig, "strova.config")

template <> Config* Singleton<Config>::instance = nullptr;

class ConfigPrivate {
public:
    // Lookups refresh files, so they run under a lock even from const members.
    QMutex mutex;
    std::vector<std::unique_ptr<IniFile>> files;
    QHash<QString, QString> redirects;

    bool lookup(const QString& key, QString* value)
    {
        QMutexLocker lock(&mutex);
        for (auto& file : files) {
            file->refresh();
        }
        for (auto it = files.rbegin(); it != files.rend(); ++it) {
            auto found = (*it)->values().constFind(key);
            if (found != (*it)->values().cend()) {
                *value = found.value();
                return true;
            }
        }
        return false;
    }
};

Config::Config() : d(new ConfigPrivate) {}

Config::~Config() = default;

QString Config::relocated(const QString& path)
{
    const QString root = qEnvironmentVariable("STROVA_ROOT");
    if (root.isEmpty() || !QDir::isAbsolutePath(path)) {
        return path;
    }
    return QDir::cleanPath(root + '/' + path);
}

void Config::redirect(const QString& path, const QString& replacement)
{
    QMutexLocker lock(&d->mutex);
    d->redirects.insert(path, replacement);
}

bool Config::loadFile(const QString& path, const QString& prefix)
{
    QMutexLocker lock(&d->mutex);
    const QString actual = d->redirects.value(path, relocated(path));
    auto& files = d->files;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if ((*it)->path() == actual) {
            files.erase(it);
            break;
        }
    }
    files.push_back(std::make_unique<IniFile>(actual, prefix));
    files.back()->refresh();
    return QFileInfo::exists(actual);
}

int Config::getInt(const QString& key, int defaultValue) const
{
    QString text;
    if (!d->lookup(key, &text)) {
        return defaultValue;
    }
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : defaultValue;
}

QString Config::getString(const QString& key) const
{
    QString text;
    d->lookup(key, &text);
    return text;
}

QString Config::getString(const QString& key, const QString& defaultValue) const
{
    QString text;
    return d->lookup(key, &text) ? text : defaultValue;
}
