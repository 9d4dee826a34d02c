#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace till {

/// One mistake in the plug-in's configuration file; line 0 is the file as a whole.
struct ConfigFinding {
    int line = 0;
    QString text;
};

/// Reads a configuration file's text as the plug-in would and lists what it would
/// silently ignore or misread: unknown or misplaced keys, a section named in the wrong
/// case, numbers that are not numbers or out of range, an unsafe host, missing credentials.
QVector<ConfigFinding> checkConfig(const QByteArray& content);

} // namespace till
