#pragma once

namespace oxlenpay {

/// Where a simulation may end the process: calls Journal::crashPoint when one is set.
void reachCrashPoint(const char* where);

} // namespace oxlenpay
