#pragma once

#include "tillcommandline.h"

#include <mutex>

namespace till {

/// The plug-in's log lines on stderr, filtered by the till's verbosity.
void installLogHandler(TillCommand::Verbosity verbosity);

/// Held while writing to stderr, so log lines and the progress line do not mix.
std::mutex& stderrMutex();
/// Called with stderrMutex held before a log line is written.
void setBeforeLogLine(void (*hook)());

} // namespace till
