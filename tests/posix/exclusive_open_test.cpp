// A port is held by one open at a time, as a COM port opened with share mode 0.
#include "low_latency.h"
#include "port_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kronex::test {
namespace {

class PosixExclusiveOpen : public PortFixture {
  protected:
    // Whether the kernel marks the tty exclusive: an open by a program that
    // does not flock fails with EBUSY (root passes, but TIOCGEXCL tells).
    bool kernelMarkedExclusive() {
        const int fd = ::open(unit.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno == EBUSY;
        int exclusive = 0;
        EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
        return exclusive != 0;
    }
};

TEST_F(PosixExclusiveOpen, HandlesArePositive) {
    HANDLE port = openLinkedPort();
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_GT(reinterpret_cast<std::intptr_t>(port), 0);
    EXPECT_GT(reinterpret_cast<std::intptr_t>(event), 0);
    EXPECT_NE(port, event);
    api.CloseHandle(event);
}

TEST_F(PosixExclusiveOpen, ASecondOpenFailsUntilTheFirstIsClosed) {
    HANDLE first = openLinkedPort();
    ASSERT_TRUE(isValid(first));

    EXPECT_EQ(openCom(kLinkedCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(close(first));
    HANDLE again = openCom(kLinkedCom);
    EXPECT_TRUE(isValid(again)) << "error " << api.GetLastError();
}

TEST_F(PosixExclusiveOpen, APortAnotherProgramHoldsFailsToOpen) {
    const int other = ::open(unit.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(openCom(kLinkedCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);
    ::close(other);
}

TEST_F(PosixExclusiveOpen, TheKernelMarkIsSetWhileOpenAndGoneAfterClose) {
    HANDLE port = openLinkedPort();
    EXPECT_TRUE(kernelMarkedExclusive());
    ASSERT_TRUE(close(port));
    EXPECT_FALSE(kernelMarkedExclusive());
}

// The driver as the latency request sees it: the serial flags it tells, and
// every ioctl made on it.
struct SerialDriver {
    static inline int flags = 0;
    static inline bool tells = true, takes = true;
    static inline std::vector<std::pair<unsigned long, int>> calls;
    static int call(int, unsigned long request, serial_struct* info) {
        calls.emplace_back(request, request == TIOCSSERIAL ? info->flags : 0);
        if (request == TIOCGSERIAL && tells) {
            info->flags = flags;
            return 0;
        }
        return request == TIOCSSERIAL && takes ? 0 : -1;
    }
};

// Asked for, the low-latency flag is set at open and the driver's own flags
// put back at close; a driver that refuses, or already has it, is left alone,
// and nothing is asked unless kronex-update asked. A pseudo-terminal refuses
// the request for real, and the port works all the same.
TEST_F(PosixExclusiveOpen, LowLatencyWhileOpenIfAskedAndARefusalIsHarmless) {
    askLowLatency(true);
    HANDLE port = openLinkedPort();
    EXPECT_EQ(write(port, {0x87, 0x00}), 2u);
    EXPECT_EQ(unit.unitReceives(2, std::chrono::milliseconds(200)), (Bytes{0x87, 0x00}));
    ASSERT_TRUE(close(port));

    const auto real = posix::serialInfoCall;
    posix::serialInfoCall = SerialDriver::call;
    constexpr int kOther = 0x40; // a flag of the driver's own, kept as it is
    const std::pair<unsigned long, int> get{TIOCGSERIAL, 0};
    struct Case {
        bool asked, tells, takes;
        int flags;
        std::vector<std::pair<unsigned long, int>> atOpen, atClose;
    };
    const Case cases[] = {
        {true,
         true,
         true,
         kOther,
         {get, {TIOCSSERIAL, kOther | ASYNC_LOW_LATENCY}},
         {{TIOCSSERIAL, kOther}}},
        {true, true, false, kOther, {get, {TIOCSSERIAL, kOther | ASYNC_LOW_LATENCY}}, {}},
        {true, false, true, kOther, {get}, {}},
        {true, true, true, ASYNC_LOW_LATENCY, {get}, {}},
        {false, true, true, kOther, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.asked << c.tells << c.takes << c.flags);
        askLowLatency(c.asked);
        SerialDriver::flags = c.flags;
        SerialDriver::tells = c.tells;
        SerialDriver::takes = c.takes;
        SerialDriver::calls.clear();
        HANDLE p = openLinkedPort();
        EXPECT_EQ(SerialDriver::calls, c.atOpen);
        SerialDriver::calls.clear();
        ASSERT_TRUE(close(p));
        EXPECT_EQ(SerialDriver::calls, c.atClose);
    }
    posix::serialInfoCall = real;
    askLowLatency(false);
}

} // namespace
} // namespace kronex::test
