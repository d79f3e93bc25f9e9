#include "line_pacer.h"

#include <gtest/gtest.h>

namespace kronex::devsim {
namespace {

using namespace std::chrono_literals;
using Clock = LinePacer::Clock;

TEST(DevsimPacer, WithoutARateBytesPassAtOnce) {
    LinePacer line(0);
    const Clock::time_point t = Clock::now();
    EXPECT_EQ(line.arrival(t), t);
    EXPECT_EQ(line.arrival(t), t);
    EXPECT_EQ(line.departure(t), t);
    EXPECT_EQ(line.departure(t), t);
}

TEST(DevsimPacer, TenBitsPerByteAtTheGivenRate) {
    EXPECT_EQ(LinePacer(10000).byteTime(), 1ms);
    EXPECT_EQ(LinePacer(166667).byteTime(), 59999ns);
}

TEST(DevsimPacer, ABurstReadAtOnceArrivesOneByteTimeApart) {
    LinePacer line(10000);
    const Clock::time_point t{1s};
    EXPECT_EQ(line.arrival(t), t + 1ms);
    EXPECT_EQ(line.arrival(t), t + 2ms);
    EXPECT_EQ(line.arrival(t), t + 3ms);
    // The line was idle again by the time of a later read.
    EXPECT_EQ(line.arrival(t + 10ms), t + 11ms);
}

TEST(DevsimPacer, RepliesQueueBehindEachOtherAndNeverLeaveEarly) {
    LinePacer line(10000);
    const Clock::time_point t{1s};
    EXPECT_EQ(line.departure(t), t + 1ms);
    EXPECT_EQ(line.departure(t), t + 2ms);
    EXPECT_EQ(line.departure(t + 1ms), t + 3ms);
    EXPECT_EQ(line.departure(t + 20ms), t + 21ms);
}

TEST(DevsimPacer, DirectionsAreIndependent) {
    LinePacer line(10000);
    const Clock::time_point t{1s};
    line.arrival(t);
    line.arrival(t);
    EXPECT_EQ(line.departure(t), t + 1ms);
}

} // namespace
} // namespace kronex::devsim
