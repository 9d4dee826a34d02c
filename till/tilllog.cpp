#include "tilllog.h"

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
    std::fprintf(stderr, "%s %s: %s\n", level, context.category ? context.category : "",
                 text.toUtf8().constData());
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
