#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace till {

/// One mistake in the plug-in's configuration file, or (`warning`) something that works
/// but should not stay so; line 0 is the file as a whole.
struct ConfigFinding {
    int line = 0;
    QString text;
    bool warning = false;
    bool note = false; ///< neither: what will be used, such as the journal's place
};

/// Reads a configuration file's text as the plug-in would and lists what it would
/// silently ignore or misread: unknown or misplaced keys, a section named in the wrong
/// case, numbers that are not numbers or out of range, an unsafe host, missing credentials.
QVector<ConfigFinding> checkConfig(const QByteArray& content);

/// checkConfig() on the file at `path`, plus what only the file system tells: the journal's
/// folder exists and this user can write to it, an existing journal file is one this build
/// can use, and the file is not readable by other users while it holds the secret.
QVector<ConfigFinding> checkConfigFile(const QString& path, const QByteArray& content);

} // namespace till
