#pragma once

#include <QDir>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include "singleton.h"
#include "strovaexport.h"

class ConfigPrivate;

/// The host's configuration service: keys "Section:name" read from INI files.
///
/// Absolute paths are relocated under $STROVA_ROOT when it is set. Lookups
/// notice when a loaded file changes on disk and read it again.
class STROVA_EXPORT Config {
public:
    Config();
    virtual ~Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    /// Loads an INI file; later files win over earlier ones for the same key.
    /// A non-empty prefix is put before every key of that file. A missing file
    /// leaves earlier values in place and is picked up once it appears.
    virtual bool loadFile(const QString& path, const QString& prefix);
    /// The value as a signed 32-bit integer, or `defaultValue` when missing or not a whole number.
    virtual int getInt(const QString& key, int defaultValue) const;
    /// The value as text, or a null string when the key has no value.
    virtual QString getString(const QString& key) const;
    virtual QString getString(const QString& key, const QString& defaultValue) const;

    /// Reads `replacement` wherever `path` is loaded (the till's --config).
    void redirect(const QString& path, const QString& replacement);

    /// `path` relocated under $STROVA_ROOT when that is set and `path` is absolute.
    static QString relocated(const QString& path);

    static inline QList<QDir> configDirectoriesPathList;
    static inline QList<QString> configFilesPathList;
    static inline QList<QDir> additionalPathList;

private:
    QSharedPointer<ConfigPrivate> d;
};

/// Defined in the configuration library.
template <> Config* Singleton<Config>::instance;
