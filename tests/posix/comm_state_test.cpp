// GetCommState/SetCommState on a real line: a change is taken whole or not at all.
#include "port_fixture.h"
#include "serial_port.h"

namespace kronex::test {
namespace {

using namespace std::chrono_literals;

class PosixCommState : public PortFixture {
  protected:
    DCB state(HANDLE port) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_TRUE(api.GetCommState(port, &dcb));
        return dcb;
    }
};

bool sameLine(const DCB& a, const DCB& b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
           a.StopBits == b.StopBits && a.fOutxCtsFlow == b.fOutxCtsFlow &&
           a.fRtsControl == b.fRtsControl && a.fOutX == b.fOutX && a.fInX == b.fInX &&
           a.fParity == b.fParity && a.fBinary == b.fBinary && a.XonChar == b.XonChar &&
           a.XoffChar == b.XoffChar && a.EofChar == b.EofChar;
}

TEST_F(PosixCommState, AFreshPortIsRawEightBitsWithoutSoftwareFlowControl) {
    const DCB dcb = state(openLinkedPort());
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_GT(dcb.BaudRate, 0u);
}

// Either the whole change shows afterwards, or (refused) exactly the old line.
void expectTakenWholeOrNotAtAll(CommApi& api, HANDLE port, const DCB& before, const DCB& asked,
                                BOOL accepted) {
    DCB after{};
    after.DCBlength = sizeof after;
    ASSERT_TRUE(api.GetCommState(port, &after));
    if (accepted)
        EXPECT_TRUE(sameLine(after, asked)) << "accepted, but the line is not what was asked";
    else
        EXPECT_TRUE(sameLine(after, before)) << "refused, but the line changed";
}

TEST_F(PosixCommState, TheLinkSettingsAreTakenWholeOrNotAtAll) {
    HANDLE port = openLinkedPort();
    const DCB before = state(port);
    DCB asked = before;
    setLinkLine(asked);
    const BOOL accepted = api.SetCommState(port, &asked);
    expectTakenWholeOrNotAtAll(api, port, before, asked, accepted);
    RecordProperty("rate_166667_accepted", accepted ? "yes" : "no");
}

TEST_F(PosixCommState, ASevenBitEvenParityFrameIsTakenWholeOrNotAtAll) {
    HANDLE port = openLinkedPort();
    const DCB before = state(port);
    DCB asked = before;
    asked.BaudRate = 9600;
    asked.ByteSize = 7;
    asked.Parity = EVENPARITY;
    const BOOL accepted = api.SetCommState(port, &asked);
    expectTakenWholeOrNotAtAll(api, port, before, asked, accepted);
    RecordProperty("frame_7e_accepted", accepted ? "yes" : "no");
}

TEST_F(PosixCommState, AnImpossibleFrameIsRefusedAndChangesNothing) {
    HANDLE port = openLinkedPort();
    const DCB before = state(port);
    DCB asked = before;
    asked.BaudRate = before.BaudRate == 19200 ? 38400 : 19200;
    asked.ByteSize = 9;
    EXPECT_FALSE(api.SetCommState(port, &asked));
    EXPECT_EQ(api.GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(sameLine(state(port), before));
}

TEST_F(PosixCommState, FieldsWithoutATermiosEquivalentReadBackAsSet) {
    HANDLE port = openLinkedPort();
    DCB asked = state(port);
    asked.XonLim = 64;
    asked.XoffLim = 32;
    asked.EvtChar = 0x7E;
    ASSERT_TRUE(api.SetCommState(port, &asked));
    const DCB after = state(port);
    EXPECT_EQ(after.XonLim, 64);
    EXPECT_EQ(after.XoffLim, 32);
    EXPECT_EQ(after.EvtChar, 0x7E);
}

TEST_F(PosixCommState, TheLineStaysRawAfterTheLinkSettings) {
    HANDLE port = openLinkedPort();
    DCB dcb = state(port);
    dcb.BaudRate = 166667;
    api.SetCommState(port, &dcb);
    const Bytes specials = {0x0A, 0x0D, 0x03, 0x11, 0x13, 0xFF};
    ASSERT_EQ(write(port, specials), specials.size());
    EXPECT_EQ(unit.unitReceives(specials.size(), 500ms), specials);
}

} // namespace
} // namespace kronex::test
