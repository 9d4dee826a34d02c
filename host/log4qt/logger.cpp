#include "log4qt/logger.h"

#include <QMessageLogger>

namespace Log4Qt {

namespace {

QString filled(const char* text, const QString& argument)
{
    return QString::fromUtf8(text).arg(argument);
}

} // namespace

// The category keeps a pointer to its name, so the name is stored first.
Logger::Logger(const QString& name)
    : m_name(name.isEmpty() ? QByteArray("root") : name.toUtf8()), m_category(m_name.constData())
{
}

QString Logger::name() const
{
    return QString::fromUtf8(m_name);
}

void Logger::info(const char* text) const
{
    info(QString::fromUtf8(text));
}
void Logger::info(const char* text, const QString& argument) const
{
    info(filled(text, argument));
}
void Logger::info(const QString& text) const
{
    if (m_category.isInfoEnabled()) {
        QMessageLogger(nullptr, 0, nullptr, m_category.categoryName()).info().noquote() << text;
    }
}

void Logger::warn(const char* text) const
{
    warn(QString::fromUtf8(text));
}
void Logger::warn(const char* text, const QString& argument) const
{
    warn(filled(text, argument));
}
void Logger::warn(const QString& text) const
{
    if (m_category.isWarningEnabled()) {
        QMessageLogger(nullptr, 0, nullptr, m_category.categoryName()).warning().noquote() << text;
    }
}

void Logger::error(const char* text) const
{
    error(QString::fromUtf8(text));
}
void Logger::error(const char* text, const QString& argument) const
{
    error(filled(text, argument));
}
void Logger::error(const QString& text) const
{
    if (m_category.isCriticalEnabled()) {
        QMessageLogger(nullptr, 0, nullptr, m_category.categoryName()).critical().noquote() << text;
    }
}

} // namespace Log4Qt
