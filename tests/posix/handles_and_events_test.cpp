// Handles that do not name the right object fail at once; events behave as
// kernel32's; the tick counter follows Sleep.
#include "port_fixture.h"

#include <chrono>
#include <thread>

namespace kronex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PosixHandles : public PortFixture {
  protected:
    // Every port call on h fails with count 0 and without a pending transfer.
    void expectPortCallsFail(HANDLE h) {
        std::uint8_t byte = 0x42;
        DWORD count = 77;
        OVERLAPPED ov{};
        const auto start = Clock::now();
        EXPECT_FALSE(api.ReadFile(h, &byte, 1, &count, &ov));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
        count = 77;
        EXPECT_FALSE(api.WriteFile(h, &byte, 1, &count, &ov));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(byte, 0x42);
        DCB dcb{};
        EXPECT_FALSE(api.GetCommState(h, &dcb));
        EXPECT_FALSE(api.SetCommState(h, &dcb));
        EXPECT_FALSE(api.SetupComm(h, 256, 256));
        COMMTIMEOUTS t{};
        EXPECT_FALSE(api.SetCommTimeouts(h, &t));
        EXPECT_FALSE(api.PurgeComm(h, PURGE_RXCLEAR));
        EXPECT_FALSE(api.GetOverlappedResult(h, &ov, &count, FALSE));
        EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_LE(Clock::now() - start, 50ms);
    }
};

TEST_F(PosixHandles, TheInvalidHandleValueFailsEverywhereAtOnce) {
    expectPortCallsFail(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(api.CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(PosixHandles, AnEventIsNotAPort) {
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    expectPortCallsFail(event);
    EXPECT_TRUE(api.CloseHandle(event));
}

TEST_F(PosixHandles, APortIsNotAnEvent) {
    HANDLE port = openLinkedPort();
    EXPECT_EQ(api.WaitForSingleObject(port, 0), WAIT_FAILED);
    EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);

    // Nor can it stand for the OVERLAPPED's event.
    std::uint8_t byte = 1;
    DWORD written = 77;
    OVERLAPPED ov{};
    ov.hEvent = port;
    EXPECT_FALSE(api.WriteFile(port, &byte, 1, &written, &ov));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(unit.unitReceives(1, 20ms).empty());
}

TEST_F(PosixHandles, AClosedPortHandleIsStaleAndClosesOnlyOnce) {
    HANDLE port = openLinkedPort();
    ASSERT_TRUE(close(port));
    expectPortCallsFail(port);
    EXPECT_FALSE(api.CloseHandle(port));
    EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PosixHandles, AClosedEventIsStale) {
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(api.CloseHandle(event));
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(api.CloseHandle(event));
}

class PosixEvents : public PortFixture {};

TEST_F(PosixEvents, AManualResetEventStaysSignalled) {
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    api.CloseHandle(event);
}

TEST_F(PosixEvents, AnAutoResetEventIsResetByTheWait) {
    HANDLE event = api.CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    api.CloseHandle(event);
}

TEST_F(PosixEvents, AnUnsignalledEventTimesOutAfterAFiniteWait) {
    HANDLE event = api.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(api.WaitForSingleObject(event, 20), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 20ms);
    api.CloseHandle(event);
}

TEST_F(PosixEvents, AnEndlessWaitOnAnUnsignalledEventFailsInsteadOfHanging) {
    HANDLE event = api.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(api.WaitForSingleObject(event, INFINITE), WAIT_FAILED);
    EXPECT_NE(api.GetLastError(), ERROR_SUCCESS);
    api.CloseHandle(event);
}

TEST_F(PosixEvents, ATransferResetsItsEventAndSignalsItWhenDone) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, 0, 0);
    // Auto-reset and unsignalled: only the completion can make the wait succeed.
    HANDLE event = api.CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::uint8_t byte = 0;
    OVERLAPPED ov{};
    ov.hEvent = event;
    ASSERT_TRUE(api.ReadFile(port, &byte, 1, nullptr, &ov));
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    api.CloseHandle(event);
}

// Looked at from another thread, the event is reset while the transfer
// runs. The read waits up to 300 ms for a first byte and must end on it.
TEST_F(PosixEvents, ATransferInProgressHoldsItsEventReset) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, MAXDWORD, 300);
    HANDLE event = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    Bytes buffer(8, 0);
    DWORD seenDuring = WAIT_FAILED;
    std::thread device([&] {
        std::this_thread::sleep_for(30ms);
        seenDuring = api.WaitForSingleObject(event, 0);
        unit.unitSends({0x43});
    });
    const auto start = Clock::now();
    const BOOL done = api.ReadFile(port, buffer.data(), 8, nullptr, &ov);
    const auto took = Clock::now() - start;
    device.join();

    ASSERT_TRUE(done);
    EXPECT_EQ(seenDuring, WAIT_TIMEOUT);
    EXPECT_EQ(ov.InternalHigh, 1u);
    EXPECT_EQ(buffer[0], 0x43);
    EXPECT_LT(took, 250ms) << "the read waited past the first byte";
    EXPECT_EQ(api.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    api.CloseHandle(event);
}

TEST(PosixClock, TheTickCountFollowsSleep) {
    CommApi& api = systemCommApi();
    const DWORD before = api.GetTickCount();
    api.Sleep(20);
    const DWORD passed = api.GetTickCount() - before; // wraps as kernel32's does
    EXPECT_GE(passed, 20u);
    EXPECT_LE(passed, 200u);
}

} // namespace
} // namespace kronex::test
