#include "tilllog.h"

#include "messages.h"
#include "printable.h"

#include <QDateTime>

#include <cstdio>

namespace till {

namespace {

TillCommand::Verbosity currentVerbosity = TillCommand::Verbosity::Normal;
void (*beforeLogLine)() = nullptr;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const bool shown =
        currentVerbosity == TillCommand::Verbosity::Verbose
            ? type != QtDebugMsg
            : currentVerbosity == TillCommand::Verbosity::Normal &&
                  (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg);
    if (!shown) {
        return;
    }
    const char* level = type == QtInfoMsg ? "INFO" : type == QtWarningMsg ? "WARN" : "ERROR";
    std::lock_guard<std::mutex> lock(stderrMutex());
    if (beforeLogLine) {
        beforeLogLine();
    }
    // Local time with its offset, to the millisecond: lines can be matched with the host's,
    // the provider's and the sandbox's logs.
    const QDateTime now = QDateTime::currentDateTime();
    const QString time = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
    std::fprintf(stderr, "%s %s %s: %s\n", time.toUtf8().constData(), level,
                 context.category ? context.category : "",
                 printable(oxlenpay::messages::capped(text)).toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

void installLogHandler(TillCommand::Verbosity verbosity)
{
    currentVerbosity = verbosity;
    qInstallMessageHandler(handler);
}

std::mutex& stderrMutex()
{
    static std::mutex mutex;
    return mutex;
}

void setBeforeLogLine(void (*hook)())
{
    beforeLogLine = hook;
}

} // namespace till
