#pragma once

#include <QJsonObject>
#include <QString>

class Config;

namespace till {

/// The version of the till and of the plug-in it was built with.
QString tillVersion();

/// What the plug-in works with: the configuration file it read and every
/// setting as it takes effect, defaults filled in and the secret masked.
struct EffectiveSettings {
    QString configPath;
    bool configReadable = false;
    QJsonObject values; // key (without "OxlenPay:") -> value as text or number
    QJsonObject notes;  // key -> why the written value is not the one used

    static EffectiveSettings read(const Config& config, const QString& configPath);
    /// Receipt lines for `info`.
    QString text() const;
    /// Records that the value written for `key` is not what the plug-in uses, and why.
    void note(const char* key, const QString& written, const QString& why);
};

} // namespace till
