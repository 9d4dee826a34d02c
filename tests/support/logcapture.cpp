#include "logcapture.h"

#include <QMutex>
#include <QStringList>

namespace testsupport {

namespace {

QMutex mutex;
QList<CapturedLine> captured;
QtMessageHandler previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    QMutexLocker lock(&mutex);
    captured.append({type, QString::fromUtf8(context.category ? context.category : ""), text});
}

QString levelName(QtMsgType type)
{
    switch (type) {
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARN";
    case QtCriticalMsg:
    case QtFatalMsg:
        return "ERROR";
    case QtDebugMsg:
        break;
    }
    return "DEBUG";
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

QList<CapturedLine> LogCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

QStringList LogCapture::of(const QString& category) const
{
    QStringList result;
    for (const CapturedLine& line : lines()) {
        if (line.category == category) {
            result << levelName(line.type) + ' ' + line.text;
        }
    }
    return result;
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

} // namespace testsupport
