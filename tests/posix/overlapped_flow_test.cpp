// Transfers as the link makes them: an event per transfer, WriteFile or
// ReadFile with an OVERLAPPED, an endless wait, GetOverlappedResult.
#include "port_fixture.h"
#include "serial_port.h"

namespace kronex::test {
namespace {

using namespace std::chrono_literals;

class PosixOverlappedFlow : public PortFixture {
  protected:
    struct Outcome {
        BOOL started = FALSE;
        DWORD waited = WAIT_FAILED;
        BOOL resultTaken = FALSE;
        DWORD transferred = 0;
    };

    Outcome transfer(bool send, HANDLE port, void* buffer, DWORD count) {
        Outcome out;
        OVERLAPPED ov{};
        ov.hEvent = api.CreateEventA(nullptr, TRUE, TRUE, nullptr);
        EXPECT_TRUE(isValid(ov.hEvent));
        DWORD immediate = 0;
        out.started = send ? api.WriteFile(port, buffer, count, &immediate, &ov)
                           : api.ReadFile(port, buffer, count, &immediate, &ov);
        if (out.started || api.GetLastError() == ERROR_IO_PENDING) {
            out.waited = api.WaitForSingleObject(ov.hEvent, INFINITE);
            out.resultTaken = api.GetOverlappedResult(port, &ov, &out.transferred, FALSE);
        }
        EXPECT_TRUE(api.CloseHandle(ov.hEvent));
        return out;
    }
};

TEST_F(PosixOverlappedFlow, AWriteCompletesWithItsFullCount) {
    HANDLE port = openLinkedPort();
    Bytes frame = {0x87, 0x05, 0x44, 0x00, 0x10};
    const Outcome out = transfer(true, port, frame.data(), 5);
    EXPECT_TRUE(out.started);
    EXPECT_EQ(out.waited, WAIT_OBJECT_0);
    EXPECT_TRUE(out.resultTaken);
    EXPECT_EQ(out.transferred, 5u);
    EXPECT_EQ(unit.unitReceives(frame.size(), 500ms), frame);
}

// Every transfer has completed when its call returns: there is nothing left
// to cancel, and no line error ever stops the transfers, so there is none to
// clear; the bytes waiting are reported.
TEST_F(PosixOverlappedFlow, NothingIsLeftToCancelOrToClear) {
    HANDLE port = openLinkedPort();
    Bytes frame = {0x87};
    ASSERT_TRUE(transfer(true, port, frame.data(), 1).resultTaken);
    OVERLAPPED done{};
    EXPECT_FALSE(api.CancelIoEx(port, &done));
    EXPECT_EQ(api.GetLastError(), ERROR_NOT_FOUND);
    unit.unitSends({0x43, 0x44});
    ASSERT_TRUE(unit.portHasInput(500ms));
    DWORD errors = 0xFF;
    COMSTAT status{};
    EXPECT_TRUE(api.ClearCommError(port, &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 2u);
    EXPECT_FALSE(api.ClearCommError(nullptr, &errors, &status));
    EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PosixOverlappedFlow, AReadCompletesWithTheBytesThatCame) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, 0, 0);
    unit.unitSends({0x43});
    ASSERT_TRUE(unit.portHasInput(500ms));
    Bytes buffer(3, 0xEE);
    const Outcome out = transfer(false, port, buffer.data(), 3);
    EXPECT_TRUE(out.started);
    EXPECT_EQ(out.waited, WAIT_OBJECT_0);
    EXPECT_TRUE(out.resultTaken);
    EXPECT_EQ(out.transferred, 1u);
    EXPECT_EQ(buffer, (Bytes{0x43, 0xEE, 0xEE}));
}

TEST_F(PosixOverlappedFlow, ACountOfZeroCompletesAtOnceWithZero) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, 100, 100, 0);
    std::uint8_t byte = 0;
    const Outcome out = transfer(false, port, &byte, 0);
    EXPECT_TRUE(out.started);
    EXPECT_EQ(out.waited, WAIT_OBJECT_0);
    EXPECT_EQ(out.transferred, 0u);
}

TEST_F(PosixOverlappedFlow, ATransferOnAFailedOpenDoesNotStart) {
    std::uint8_t byte = 0xBC;
    const Outcome out = transfer(true, INVALID_HANDLE_VALUE, &byte, 1);
    EXPECT_FALSE(out.started);
    EXPECT_NE(api.GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(out.transferred, 0u);
}

TEST_F(PosixOverlappedFlow, TheLinkPortTalksToTheUnitOverThisLayer) {
    SerialPort link(api);
    ASSERT_TRUE(link.ABRE_PORTA(kLinkedCom));
    ASSERT_TRUE(isValid(link.handle()));

    const std::uint8_t probe = 0xBC;
    std::int32_t written = 0;
    EXPECT_TRUE(link.ENVIA_DADOS(&probe, 1, written));
    EXPECT_EQ(written, 1);
    EXPECT_EQ(unit.unitReceives(1, 500ms), Bytes{0xBC});

    unit.unitSends({'C'});
    std::uint8_t reply = 0;
    std::int32_t read = 0;
    EXPECT_TRUE(link.RECEBE_DADOS(1, &reply, read));
    EXPECT_EQ(read, 1);
    EXPECT_EQ(reply, 'C');

    link.FECHA_PORTA();
    EXPECT_TRUE(isValid(openLinkedPort())) << "the link left the port held";
}

TEST_F(PosixOverlappedFlow, TheLinkPortOnAMissingPortFailsWithoutWaiting) {
    devices.link(5, "/nonexistent/kronex-port");
    SerialPort link(api);
    ASSERT_TRUE(link.ABRE_PORTA(5));
    EXPECT_FALSE(isValid(link.handle()));
    const std::uint8_t probe = 0xBC;
    std::int32_t written = 99;
    EXPECT_FALSE(link.ENVIA_DADOS(&probe, 1, written));
    EXPECT_EQ(written, 0);
}

} // namespace
} // namespace kronex::test
