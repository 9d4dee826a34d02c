#pragma once

#include <QtGlobal>

#include <ctime>

namespace processing {

/// Microseconds still to wait so that `seconds` lie between `lastStamp` and `now`
/// (both monotonic). 0 when no wait is due: a non-positive pause, no stamp yet,
/// or the pause already over. Computed in 64 bits, so long pauses cannot overflow.
qint64 pacingDelayMicroseconds(const timespec& lastStamp, const timespec& now, int seconds);

} // namespace processing
