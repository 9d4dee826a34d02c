#include "basicpaymentprocessing.h"
#include "operationpacing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <functional>

namespace {

using processing::pacingDelayMicroseconds;

timespec at(long seconds, long nanoseconds)
{
    return timespec{seconds, nanoseconds};
}

TEST(OperationPacing, DelayArithmetic)
{
    // No stamp yet, or a non-positive pause: nothing to wait.
    EXPECT_EQ(pacingDelayMicroseconds(at(0, 0), at(100, 0), 5), 0);
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(100, 1), 0), 0);
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(100, 1), -1), 0);
    // Stamp at 100.0, pause of 2 s, half a second later: 1.5 s to go.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(100, 500000000), 2), 1500000);
    // Three seconds after the stamp: over.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(103, 0), 2), 0);
    // Whole seconds used up, 400 microseconds left.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 500000000), at(102, 499600000), 2), 400);
    // Less than a microsecond left is dropped.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 500000000), at(102, 499999500), 2), 0);
    // Exactly at the end.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 500000000), at(102, 500000000), 2), 0);
    // A negative nanosecond difference truncates toward zero.
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(100, 999), 1), 1000000);
    EXPECT_EQ(pacingDelayMicroseconds(at(100, 0), at(100, 1500), 1), 999999);
}

TEST(OperationPacing, LongPausesDoNotOverflow)
{
    const qint64 delay = pacingDelayMicroseconds(at(10, 0), at(10, 0), 3000);
    EXPECT_EQ(delay, qint64(3000) * 1000000);
    const qint64 longest = pacingDelayMicroseconds(at(1, 0), at(1, 0), INT_MAX);
    EXPECT_EQ(longest, qint64(INT_MAX) * 1000000);
}

class StampedProcessing : public BasicPaymentProcessing {
public:
    void stampAgo(std::chrono::milliseconds age)
    {
        setLastOperationTime();
        const qint64 stamp = qint64(lastOperationTime.tv_sec) * 1000000000 +
                             lastOperationTime.tv_nsec -
                             std::chrono::duration_cast<std::chrono::nanoseconds>(age).count();
        lastOperationTime.tv_sec = time_t(stamp / 1000000000);
        lastOperationTime.tv_nsec = long(stamp % 1000000000);
    }
};

std::chrono::milliseconds timed(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

TEST(OperationPacing, SleepsForTheRestOfThePause)
{
    StampedProcessing processing;
    EXPECT_LT(timed([&] { processing.waitBeforeNextOperation(5); }).count(), 50) << "no stamp yet";

    processing.stampAgo(std::chrono::milliseconds(700));
    const auto waited = timed([&] { processing.waitBeforeNextOperation(1); });
    EXPECT_GE(waited.count(), 250);
    EXPECT_LT(waited.count(), 900);

    processing.stampAgo(std::chrono::milliseconds(1500));
    EXPECT_LT(timed([&] { processing.waitBeforeNextOperation(1); }).count(), 50);
    EXPECT_LT(timed([&] { processing.waitBeforeNextOperation(0); }).count(), 50);
    EXPECT_LT(timed([&] { processing.waitBeforeNextOperation(-1); }).count(), 50);
}

} // namespace
