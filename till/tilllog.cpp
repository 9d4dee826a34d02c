#include "tilllog.h"

#include "waitprogress.h"

#include <QRegularExpression>

#include <cstdio>

namespace till {

namespace {

TillCommand::Verbosity currentVerbosity = TillCommand::Verbosity::Normal;
void (*beforeLogLine)() = nullptr;

// The plug-in names the payment of a wait it closes out or gives up; a forced exit
// repeats it, so the cashier knows what to look up.
void notePaymentId(const QString& text)
{
    static const QRegularExpression named(
        "Оплата (\\S+) (?:не подтверждена|отменена)|по платежу (\\S+)");
    const QRegularExpressionMatch match = named.match(text);
    if (match.hasMatch()) {
        const QString id = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
        WaitProgress::notePaymentId(id);
    }
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    notePaymentId(text);
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
