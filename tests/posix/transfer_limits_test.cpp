// COMMTIMEOUTS turned into the limits of one transfer, without a clock.
#include "transfer_limits.h"

#include <gtest/gtest.h>

namespace kronex::posix {
namespace {

using std::chrono::milliseconds;

COMMTIMEOUTS reads(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    return t;
}

TEST(PosixTransferLimits, TheLinkReadTimeoutsGrowWithTheCount) {
    const COMMTIMEOUTS link = reads(100, 100, 0);
    EXPECT_EQ(readLimits(link, 1).total, milliseconds(100));
    EXPECT_EQ(readLimits(link, 4).total, milliseconds(400));
    EXPECT_EQ(readLimits(link, 4).interval, milliseconds(100));
    EXPECT_EQ(readLimits(reads(0, 10, 250), 3).total, milliseconds(280));
}

TEST(PosixTransferLimits, ZeroMeansNotUsed) {
    EXPECT_FALSE(readLimits(reads(0, 100, 0), 1).interval);
    const TransferLimits none = readLimits(reads(0, 0, 0), 8);
    EXPECT_FALSE(none.total);
    EXPECT_FALSE(none.interval);
    EXPECT_EQ(readLimits(reads(50, 0, 0), 8).interval, milliseconds(50));
    EXPECT_FALSE(readLimits(reads(50, 0, 0), 8).total);
}

TEST(PosixTransferLimits, MaxIntervalAloneReturnsAtOnceWithWhatIsThere) {
    const TransferLimits now = readLimits(reads(MAXDWORD, 0, 0), 16);
    EXPECT_EQ(now.total, milliseconds(0));
    EXPECT_EQ(now.interval, milliseconds(0));
}

TEST(PosixTransferLimits, MaxIntervalAndMultiplierWaitTheConstantForAFirstByte) {
    for (DWORD count : {1u, 1000u}) {
        const TransferLimits first = readLimits(reads(MAXDWORD, MAXDWORD, 250), count);
        EXPECT_EQ(first.total, milliseconds(250));
        EXPECT_EQ(first.interval, milliseconds(0));
    }
}

TEST(PosixTransferLimits, HugeValuesDoNotWrapToShortWaits) {
    const TransferLimits huge = readLimits(reads(0, MAXDWORD - 1, MAXDWORD), MAXDWORD);
    ASSERT_TRUE(huge.total);
    EXPECT_GT(*huge.total, milliseconds(MAXDWORD));
}

TEST(PosixTransferLimits, TheLinkWriteTimeoutIsPerBytePlusConstant) {
    COMMTIMEOUTS t{};
    t.WriteTotalTimeoutMultiplier = 5000;
    t.WriteTotalTimeoutConstant = 5000;
    EXPECT_EQ(writeLimits(t, 1).total, milliseconds(10000));
    EXPECT_EQ(writeLimits(t, 128).total, milliseconds(645000));
    EXPECT_FALSE(writeLimits(t, 128).interval);
    EXPECT_FALSE(writeLimits(COMMTIMEOUTS{}, 128).total);
}

TEST(PosixTransferLimits, AllThreeReadValuesAtMaxAreRefused) {
    EXPECT_FALSE(timeoutsValid(reads(MAXDWORD, MAXDWORD, MAXDWORD)));
    EXPECT_TRUE(timeoutsValid(reads(MAXDWORD, MAXDWORD, 250)));
    EXPECT_TRUE(timeoutsValid(reads(100, 100, 0)));
}

} // namespace
} // namespace kronex::posix
