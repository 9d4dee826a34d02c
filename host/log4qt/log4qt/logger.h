#pragma once

#include "log4qt/log4qtshared.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

namespace Log4Qt {

/// A named logger. Lines go out through Qt's message system under a logging
/// category of the logger's name, so a host's message handler and
/// QT_LOGGING_RULES see and filter them. Texts are UTF-8; "%1" in the text is
/// filled with the argument.
class LOG4QT_EXPORT Logger {
public:
    explicit Logger(const QString& name);
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    QString name() const;

    void info(const char* text) const;
    void info(const char* text, const QString& argument) const;
    void info(const QString& text) const;
    void warn(const char* text) const;
    void warn(const char* text, const QString& argument) const;
    void warn(const QString& text) const;
    void error(const char* text) const;
    void error(const char* text, const QString& argument) const;
    void error(const QString& text) const;

private:
    QByteArray m_name;
    QLoggingCategory m_category;
};

} // namespace Log4Qt
