#include "operationpacing.h"

namespace processing {

qint64 pacingDelayMicroseconds(const timespec& lastStamp, const timespec& now, int seconds)
{
    if (seconds <= 0 || lastStamp.tv_sec <= 0) {
        return 0;
    }
    const qint64 wholeSeconds = qint64(seconds) + qint64(lastStamp.tv_sec) - qint64(now.tv_sec);
    if (wholeSeconds < 0) {
        return 0;
    }
    if (wholeSeconds == 0 && lastStamp.tv_nsec <= now.tv_nsec) {
        return 0;
    }
    // The nanosecond difference may be negative; C++ division truncates toward zero.
    return wholeSeconds * 1000000 + (qint64(lastStamp.tv_nsec) - qint64(now.tv_nsec)) / 1000;
}

} // namespace processing
