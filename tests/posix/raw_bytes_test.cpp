// Bytes cross the port untouched in both directions, as on a COM port, which
// has no line discipline.
#include "port_fixture.h"

namespace kronex::test {
namespace {

using namespace std::chrono_literals;

class PosixRawBytes : public PortFixture {};

// Line ends, interrupt, XON, XOFF, EOF, suspend, DEL, 0xFF and NUL: each of
// them means something to a terminal in its default mode.
const Bytes kTerminalSpecials = {0x0A, 0x0D, 0x03, 0x11, 0x13, 0xFF, 0x04,
                                 0x1A, 0x1C, 0x7F, 0x00, 0x0D, 0x0A, 0x87};

TEST_F(PosixRawBytes, WrittenBytesReachTheUnitUnchanged) {
    HANDLE port = openLinkedPort();
    ASSERT_EQ(write(port, kTerminalSpecials), kTerminalSpecials.size());
    EXPECT_EQ(unit.unitReceives(kTerminalSpecials.size(), 500ms), kTerminalSpecials);
}

TEST_F(PosixRawBytes, BytesFromTheUnitAreReadUnchangedAndNotEchoed) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, 100, 100, 0);
    unit.unitSends(kTerminalSpecials);
    EXPECT_EQ(read(port, static_cast<DWORD>(kTerminalSpecials.size())), kTerminalSpecials);
    EXPECT_TRUE(unit.unitReceives(64, 50ms).empty()) << "the port echoed its input";
}

TEST_F(PosixRawBytes, PurgeOfTheReceiveSideDropsPendingInput) {
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, 0, 0); // return at once with what is there
    unit.unitSends({1, 2, 3});
    ASSERT_TRUE(unit.portHasInput(500ms));

    ASSERT_TRUE(api.PurgeComm(port, PURGE_RXCLEAR));
    EXPECT_TRUE(read(port, 3).empty());

    unit.unitSends({4});
    ASSERT_TRUE(unit.portHasInput(500ms));
    EXPECT_EQ(read(port, 3), Bytes{4});
}

TEST_F(PosixRawBytes, InputThatCameBeforeTheOpenIsNotRead) {
    unit.unitSends({'9', '\n'}); // a whole line: the line is still cooked here
    ASSERT_TRUE(unit.portHasInput(500ms));
    HANDLE port = openLinkedPort();
    setReadTimeouts(port, MAXDWORD, 0, 0);
    EXPECT_TRUE(read(port, 2).empty());
}

} // namespace
} // namespace kronex::test
