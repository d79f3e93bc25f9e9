#include "fake_comm.h"
#include "serial_port.h"

#include <cstring>
#include <gtest/gtest.h>

using kronex::SerialPort;
using kronex::test::comName;
using kronex::test::FakeComm;

namespace {

struct SerialPortTest : ::testing::Test {
    FakeComm comm;
    SerialPort port{comm};

    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const auto& c : comm.calls)
            names.push_back(c.name);
        return names;
    }
};

} // namespace

TEST_F(SerialPortTest, OpensComTenByItsFullDeviceName) {
    comm.port(10);
    EXPECT_TRUE(port.ABRE_PORTA(10));
    ASSERT_FALSE(comm.calls.empty());
    EXPECT_EQ(comm.calls.front().port, "\\\\.\\COM10");
    EXPECT_EQ(comm.port(10).opens, 1);
}

TEST_F(SerialPortTest, AppliesTheLinkSettingsInOrder) {
    comm.port(3);
    ASSERT_TRUE(port.ABRE_PORTA(3));
    EXPECT_EQ(callNames(), (std::vector<std::string>{"CreateFileA", "SetupComm", "GetCommState",
                                                     "SetCommState", "SetCommTimeouts"}));
    const auto& p = comm.port(3);
    EXPECT_EQ(p.inQueue, 256u);
    EXPECT_EQ(p.outQueue, 256u);
    EXPECT_EQ(p.timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(p.timeouts.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(p.timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(p.timeouts.WriteTotalTimeoutMultiplier, 5000u);
    EXPECT_EQ(p.timeouts.WriteTotalTimeoutConstant, 5000u);
}

// What another program may leave on a port, one field at a time: each would
// hold back, drop, alter or abort bytes of an update. The link sets every one
// of them; what it does not govern (DTR and RTS, through which a unit may be
// powered or reset, the limits and the characters) stays as the port had it.
TEST_F(SerialPortTest, SetsEveryFieldThatDecidesWhichBytesPassAndWhen) {
    using Field = void (*)(DCB&);
    const std::pair<const char*, Field> leftOnThePort[] = {
        {"two stop bits", [](DCB& d) { d.StopBits = TWOSTOPBITS; }},
        {"parity checking", [](DCB& d) { d.fParity = 1; }},
        {"CTS output flow", [](DCB& d) { d.fOutxCtsFlow = 1; }},
        {"DSR output flow", [](DCB& d) { d.fOutxDsrFlow = 1; }},
        {"DSR sensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }},
        {"XON/XOFF out", [](DCB& d) { d.fOutX = 1; }},
        {"XON/XOFF in", [](DCB& d) { d.fInX = 1; }},
        {"error replacement", [](DCB& d) { d.fErrorChar = 1; }},
        {"null stripping", [](DCB& d) { d.fNull = 1; }},
        {"abort on error", [](DCB& d) { d.fAbortOnError = 1; }},
        {"text mode", [](DCB& d) { d.fBinary = 0; }},
    };
    for (const auto& [what, leave] : leftOnThePort) {
        SCOPED_TRACE(what);
        FakeComm fresh;
        DCB& left = fresh.port(1).dcb;
        leave(left);
        left.fDtrControl = 2; // handshake
        left.fRtsControl = 0; // disabled
        left.ErrorChar = '?';
        const DCB before = left;
        SerialPort link(fresh);
        ASSERT_TRUE(link.ABRE_PORTA(1));
        DCB expected = before;
        expected.BaudRate = 166667;
        expected.ByteSize = 8;
        expected.Parity = NOPARITY;
        expected.StopBits = ONESTOPBIT;
        expected.fBinary = 1;
        expected.fParity = 0;
        expected.fOutxCtsFlow = 0;
        expected.fOutxDsrFlow = 0;
        expected.fDsrSensitivity = 0;
        expected.fOutX = 0;
        expected.fInX = 0;
        expected.fErrorChar = 0;
        expected.fNull = 0;
        expected.fAbortOnError = 0;
        EXPECT_EQ(std::memcmp(&expected, &fresh.port(1).dcb, sizeof(DCB)), 0);
        EXPECT_EQ(fresh.port(1).dcb.fDtrControl, 2u);
        EXPECT_EQ(fresh.port(1).dcb.fRtsControl, 0u);
    }
}

// Bytes a Windows driver takes out of what is read under settings another
// program left: null stripping drops 0x00, XON/XOFF output flow takes the
// flow characters. Each is a byte of an update.
TEST_F(SerialPortTest, EveryByteComesThroughWhateverThePortWasLeftWith) {
    auto& p = comm.port(1);
    p.dcb.fNull = 1;
    p.dcb.fOutX = 1;
    ASSERT_TRUE(port.ABRE_PORTA(1));
    const std::vector<std::uint8_t> sent = {0x00, 0x11, 0x13, 0x42, 0x00};
    p.arrive(comm.now() + 1, sent);
    std::uint8_t got[5] = {};
    std::int32_t read = 0;
    EXPECT_TRUE(port.RECEBE_DADOS(5, got, read));
    EXPECT_EQ(std::vector<std::uint8_t>(got, got + read), sent);
}

TEST_F(SerialPortTest, RefusedSettingsStillCountAsAnOpen) {
    comm.port(2).refusesSettings = true;
    EXPECT_TRUE(port.ABRE_PORTA(2));
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(comm.callsNamed("SetCommTimeouts").size(), 1u);
}

TEST_F(SerialPortTest, MissingOrHeldPortFailsEveryTransferAtOnce) {
    comm.port(4).heldElsewhere = true;
    for (int n : {1, 4}) { // COM1 was never set up: it does not exist
        comm.calls.clear();
        EXPECT_TRUE(port.ABRE_PORTA(n));
        EXPECT_TRUE(port.isOpen());
        EXPECT_EQ(callNames(), std::vector<std::string>{"CreateFileA"}); // no configuration
        const std::uint8_t b = 0xBC;
        std::int32_t written = -1;
        const auto t0 = comm.now();
        EXPECT_FALSE(port.ENVIA_DADOS(&b, 1, written));
        EXPECT_EQ(written, 0);
        std::uint8_t in = 0x55;
        std::int32_t read = -1;
        EXPECT_FALSE(port.RECEBE_DADOS(1, &in, read));
        EXPECT_EQ(read, 0);
        EXPECT_EQ(in, 0x55);
        EXPECT_LE(comm.now() - t0, 2u);
        port.FECHA_PORTA();
        EXPECT_FALSE(port.isOpen());
        for (const auto& c : comm.callsNamed("CloseHandle"))
            EXPECT_EQ(c.arg, 1) << "CloseHandle on the invalid port handle";
    }
    EXPECT_EQ(comm.openHandles(), 0);
}

TEST_F(SerialPortTest, CloseWithNothingOpenMakesNoCall) {
    port.FECHA_PORTA();
    EXPECT_TRUE(comm.calls.empty());
}

TEST_F(SerialPortTest, ClosePurgesReceiveThenTransmitAndReleasesThePort) {
    comm.port(5);
    port.ABRE_PORTA(5);
    comm.calls.clear();
    port.FECHA_PORTA();
    ASSERT_EQ(comm.calls.size(), 3u);
    EXPECT_EQ(comm.calls[0].name, "PurgeComm");
    EXPECT_EQ(comm.calls[0].arg, PURGE_RXCLEAR);
    EXPECT_EQ(comm.calls[1].arg, PURGE_TXCLEAR);
    EXPECT_EQ(comm.calls[2].name, "CloseHandle");
    EXPECT_EQ(comm.openHandles(), 0);
    EXPECT_TRUE(port.ABRE_PORTA(5)); // free again
}

TEST_F(SerialPortTest, SecondOpenWhileOpenClosesTheOldPortAndRefuses) {
    comm.port(1);
    comm.port(2);
    ASSERT_TRUE(port.ABRE_PORTA(1));
    EXPECT_FALSE(port.ABRE_PORTA(2));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(comm.openHandles(), 0); // the old handle did not leak
    EXPECT_EQ(comm.port(2).opens, 0);
    EXPECT_TRUE(port.ABRE_PORTA(2));
    EXPECT_EQ(comm.port(2).opens, 1);
}

TEST_F(SerialPortTest, SilentOneByteReadEndsAfterOneHundredMilliseconds) {
    comm.port(1);
    port.ABRE_PORTA(1);
    std::uint8_t b = 0xBC;
    std::int32_t read = -1;
    const auto t0 = comm.now();
    EXPECT_FALSE(port.RECEBE_DADOS(1, &b, read));
    EXPECT_EQ(comm.now() - t0, 100u);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(b, 0xBC);
}

TEST_F(SerialPortTest, PartialReadKeepsItsBytesAndEndsAtTheIntervalOrTheTotal) {
    comm.port(1);
    port.ABRE_PORTA(1);
    {
        comm.port(1).arrive(comm.now() + 10, {0x11, 0x22}, 20);
        std::uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        std::int32_t read = -1;
        const auto t0 = comm.now();
        EXPECT_FALSE(port.RECEBE_DADOS(4, buf, read));
        EXPECT_EQ(read, 2);
        EXPECT_EQ(buf[0], 0x11);
        EXPECT_EQ(buf[1], 0x22);
        EXPECT_EQ(buf[2], 0xEE);
        EXPECT_EQ(buf[3], 0xEE);
        EXPECT_EQ(comm.now() - t0, 130u); // 100 ms after the second byte
    }
    {
        // Bytes 90 ms apart never trip the interval; the 400 ms total ends it.
        const auto t0 = comm.now();
        comm.port(1).arrive(t0 + 150, {1, 2, 3, 4}, 90);
        std::uint8_t buf[4] = {};
        std::int32_t read = -1;
        EXPECT_FALSE(port.RECEBE_DADOS(4, buf, read));
        EXPECT_EQ(read, 3);
        EXPECT_EQ(comm.now() - t0, 400u);
    }
}

TEST_F(SerialPortTest, CountZeroSucceedsAtOnce) {
    comm.port(1);
    port.ABRE_PORTA(1);
    std::uint8_t b = 0;
    std::int32_t n = -1;
    EXPECT_TRUE(port.ENVIA_DADOS(&b, 0, n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(port.RECEBE_DADOS(0, &b, n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(comm.now(), 0u);
}

TEST_F(SerialPortTest, SendsTheCallersBytesAndClosesEachTransfersEvent) {
    comm.port(1);
    port.ABRE_PORTA(1);
    const std::uint8_t data[3] = {0x87, 0x00, 0xFF};
    std::int32_t written = 0;
    EXPECT_TRUE(port.ENVIA_DADOS(data, 3, written));
    EXPECT_EQ(written, 3);
    EXPECT_EQ(comm.port(1).sent, (std::vector<std::uint8_t>{0x87, 0x00, 0xFF}));
    EXPECT_EQ(comm.openHandles(), 1); // the port alone
    comm.completeSynchronously = true;
    EXPECT_TRUE(port.ENVIA_DADOS(data, 2, written));
    EXPECT_EQ(written, 2);
    EXPECT_EQ(comm.openHandles(), 1);
}

TEST_F(SerialPortTest, WithoutAnEventNoTransferStarts) {
    comm.port(1);
    port.ABRE_PORTA(1);
    comm.failCreateEvent = true;
    const std::uint8_t b = 1;
    std::int32_t written = -1;
    EXPECT_FALSE(port.ENVIA_DADOS(&b, 1, written));
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(comm.callsNamed("WriteFile").empty());
    EXPECT_TRUE(comm.port(1).sent.empty());
}

TEST_F(SerialPortTest, TransferThatCannotStartCountsZero) {
    comm.port(1);
    port.ABRE_PORTA(1);
    comm.failWriteStart = true;
    const std::uint8_t b = 1;
    std::int32_t written = -1;
    EXPECT_FALSE(port.ENVIA_DADOS(&b, 1, written));
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(comm.callsNamed("WaitForSingleObject").empty());
    EXPECT_EQ(comm.openHandles(), 1); // its event was closed
    EXPECT_TRUE(port.failed());
    comm.failWriteStart = false;
    EXPECT_TRUE(port.ENVIA_DADOS(&b, 1, written));
    EXPECT_FALSE(port.failed()); // a transfer that ran, even short, is no failure
}

// A pulled adapter on Windows: the transfer starts, and completes with an
// error. That is no time-out: the port has failed, whatever the driver calls it.
TEST_F(SerialPortTest, TransferThatCompletesWithAnErrorFailsThePort) {
    // As various drivers report a device that has gone.
    const DWORD errors[] = {ERROR_GEN_FAILURE, 22, ERROR_OPERATION_ABORTED, ERROR_ACCESS_DENIED,
                            1167};
    for (const DWORD error : errors)
        for (const bool send : {true, false}) {
            SCOPED_TRACE(std::to_string(error) + (send ? " write" : " read"));
            FakeComm fresh;
            fresh.port(1);
            SerialPort link(fresh);
            link.ABRE_PORTA(1);
            fresh.port(1).goneFrom = 0;
            fresh.port(1).completionError = error;
            std::uint8_t b = 0x5A;
            std::int32_t n = -1;
            EXPECT_FALSE(send ? link.ENVIA_DADOS(&b, 1, n) : link.RECEBE_DADOS(1, &b, n));
            EXPECT_EQ(n, 0);
            EXPECT_TRUE(link.failed());
            EXPECT_TRUE(fresh.callsNamed("CancelIoEx").empty()); // it had completed
            EXPECT_EQ(fresh.openHandles(), 1);
        }
    // Wine's way of ending a read that timed out with nothing: a time-out still.
    FakeComm wine;
    wine.port(1);
    SerialPort link(wine);
    link.ABRE_PORTA(1);
    wine.port(1).goneFrom = 0;
    wine.port(1).completionError = 1460; // ERROR_TIMEOUT
    std::uint8_t b = 0x5A;
    std::int32_t n = -1;
    EXPECT_FALSE(link.RECEBE_DADOS(1, &b, n));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(link.failed());
}

// A transfer whose completion cannot be awaited is cancelled, and its
// cancellation awaited before the OVERLAPPED and the buffer go: the driver
// would otherwise complete into a stack frame that has returned.
TEST_F(SerialPortTest, ATransferLeftPendingIsCancelledAndAwaited) {
    for (const bool send : {true, false}) {
        SCOPED_TRACE(send ? "write" : "read");
        FakeComm fresh;
        fresh.port(1);
        SerialPort link(fresh);
        link.ABRE_PORTA(1);
        fresh.port(1).holdsTransfers = true;
        std::uint8_t b = 0x5A;
        std::int32_t n = -1;
        EXPECT_FALSE(send ? link.ENVIA_DADOS(&b, 1, n) : link.RECEBE_DADOS(1, &b, n));
        EXPECT_EQ(n, 0);
        EXPECT_EQ(fresh.abandonedTransfers, 0);
        EXPECT_EQ(fresh.pendingTransfers(), 0);
        EXPECT_EQ(fresh.callsNamed("CancelIoEx").size(), 1u);
        EXPECT_FALSE(link.failed()); // its own cancellation: no failure of the port
    }
}

// A port that refuses the link's settings may keep abort-on-error: after a
// line error every transfer then fails until the error is cleared. The link
// clears it and goes on; only a port that cannot even be cleared has failed.
TEST_F(SerialPortTest, ALineErrorUnderAnInheritedAbortOnErrorIsCleared) {
    auto& p = comm.port(1);
    p.refusesSettings = true;
    p.dcb.fAbortOnError = 1;
    ASSERT_TRUE(port.ABRE_PORTA(1));
    p.lineError = true;
    const std::uint8_t b = 0x87;
    std::int32_t written = -1;
    EXPECT_FALSE(port.ENVIA_DADOS(&b, 1, written));
    EXPECT_FALSE(port.failed());
    EXPECT_EQ(comm.callsNamed("ClearCommError").size(), 1u);
    EXPECT_TRUE(port.ENVIA_DADOS(&b, 1, written));
    EXPECT_EQ(p.sent, std::vector<std::uint8_t>{0x87});
}
