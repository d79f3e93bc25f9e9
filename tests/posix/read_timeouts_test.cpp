// The link's time-outs on a real line: reads end by the interval after the
// last byte or by the total, writes by their total. Two checks run in real
// time (about 100 ms and 150 ms); the rules themselves are checked without a
// clock in transfer_limits_test.cpp.
#include "port_fixture.h"

#include <chrono>
#include <thread>

namespace kronex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

class PosixReadTimeouts : public PortFixture {};

TEST_F(PosixReadTimeouts, AOneByteProbeOnASilentLineEndsAfterAbout100Ms) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, 100, 100, 0);
    std::uint8_t buffer = 0xA5;
    DWORD got = 99;

    const auto start = Clock::now();
    ASSERT_TRUE(api.ReadFile(port, &buffer, 1, &got, nullptr));
    const auto took = since(start);

    EXPECT_EQ(got, 0u);
    EXPECT_EQ(buffer, 0xA5);
    EXPECT_GE(took, 95ms);
    EXPECT_LE(took, 400ms);
}

TEST_F(PosixReadTimeouts, AShortReplyEndsAnIntervalAfterItsLastByte) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, 100, 100, 0); // 4 bytes: 400 ms at most
    Bytes buffer = {0xEE, 0xEE, 0xEE, 0xEE};
    DWORD got = 0;

    // The second byte comes 40 ms after the first: within the interval, so
    // the read must wait for it and then end about 100 ms later.
    Clock::time_point secondSent;
    std::thread device([&] {
        unit.unitSends({0x43});
        std::this_thread::sleep_for(40ms);
        secondSent = Clock::now();
        unit.unitSends({0xAA});
    });
    const BOOL done = api.ReadFile(port, buffer.data(), 4, &got, nullptr);
    const auto ended = Clock::now();
    device.join();

    ASSERT_TRUE(done);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer, (Bytes{0x43, 0xAA, 0xEE, 0xEE}));
    const auto afterSecond =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - secondSent);
    EXPECT_GE(afterSecond, 80ms);
    EXPECT_LE(afterSecond, 300ms); // the 400 ms total would end it later
}

TEST_F(PosixReadTimeouts, ReturnWhatIsThereDoesNotWait) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, 0, 0);
    unit.unitSends({7, 8});
    ASSERT_TRUE(unit.portHasInput(500ms));

    const auto start = Clock::now();
    EXPECT_EQ(read(port, 16), (Bytes{7, 8}));
    EXPECT_TRUE(read(port, 16).empty());
    EXPECT_LE(since(start), 50ms);
}

TEST_F(PosixReadTimeouts, AWriteTheLineCannotTakeEndsAtItsTotalWithAnHonestCount) {
    HANDLE port = openLinkedPort();
    COMMTIMEOUTS t{};
    t.WriteTotalTimeoutConstant = 30;
    ASSERT_TRUE(api.SetCommTimeouts(port, &t));
    const Bytes lots(256 * 1024, 0x55); // far more than a pty buffers

    const auto start = Clock::now();
    const DWORD written = write(port, lots);
    const auto took = since(start);

    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_GE(took, 25ms);
    EXPECT_LE(took, 300ms);
    EXPECT_EQ(unit.unitReceives(lots.size(), 50ms).size(), written);
}

} // namespace
} // namespace kronex::test
