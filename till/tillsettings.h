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

    static EffectiveSettings read(const Config& config, const QString& configPath);
    /// Receipt lines for `info`.
    QString text() const;
};

} // namespace till
