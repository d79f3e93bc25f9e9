// The DCB <-> termios mapping, without a device.
#include "dcb_termios.h"
#include "serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace kronex::posix {
namespace {

DCB lineDcb(DWORD rate, BYTE size, BYTE parity, BYTE stop) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = rate;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

// A line as a raw port holds it, with bits a DCB does not govern.
LineTermios rawLine() {
    LineTermios line;
    line.cflag = CS8 | CREAD | CLOCAL | HUPCL;
    line.iflag = IGNPAR;
    line.lflag = 0;
    line.oflag = 0;
    line.cc[VMIN] = 1;
    line.ospeed = line.ispeed = 9600;
    return line;
}

DCB roundTrip(const DCB& in) {
    LineTermios line = rawLine();
    EXPECT_TRUE(dcbToTermios(in, line));
    DCB out{};
    termiosToDcb(line, out);
    return out;
}

TEST(PosixDcbTermios, EveryFrameSurvivesTheRoundTrip) {
    for (BYTE size = 5; size <= 8; ++size)
        for (BYTE parity = NOPARITY; parity <= kSpaceParity; ++parity)
            for (BYTE stop : {ONESTOPBIT, size == 5 ? kOne5StopBits : TWOSTOPBITS}) {
                const DCB out = roundTrip(lineDcb(166667, size, parity, stop));
                EXPECT_EQ(out.BaudRate, 166667u);
                EXPECT_EQ(out.ByteSize, size);
                EXPECT_EQ(out.Parity, parity) << int(size) << " bits";
                EXPECT_EQ(out.StopBits, stop) << int(size) << " bits";
                EXPECT_EQ(out.fBinary, 1u);
            }
}

TEST(PosixDcbTermios, FlowControlAndItsCharactersSurviveTheRoundTrip) {
    DCB in = lineDcb(9600, 8, NOPARITY, ONESTOPBIT);
    in.fOutxCtsFlow = 1;
    in.fRtsControl = kRtsControlHandshake;
    in.fOutX = 1;
    in.fInX = 1;
    in.fParity = 1;
    in.XonChar = 0x21;
    in.XoffChar = 0x23;
    in.EofChar = 0x1A;
    const DCB out = roundTrip(in);
    EXPECT_EQ(out.fOutxCtsFlow, 1u);
    EXPECT_EQ(out.fRtsControl, kRtsControlHandshake);
    EXPECT_EQ(out.fOutX, 1u);
    EXPECT_EQ(out.fInX, 1u);
    EXPECT_EQ(out.fParity, 1u);
    EXPECT_EQ(out.XonChar, 0x21);
    EXPECT_EQ(out.XoffChar, 0x23);
    EXPECT_EQ(out.EofChar, 0x1A);

    const DCB off = roundTrip(lineDcb(9600, 8, NOPARITY, ONESTOPBIT));
    EXPECT_EQ(off.fOutxCtsFlow, 0u);
    EXPECT_EQ(off.fOutX, 0u);
    EXPECT_EQ(off.fInX, 0u);
}

TEST(PosixDcbTermios, TheLinkSettingsTouchNothingButTheLine) {
    LineTermios line = rawLine();
    const LineTermios before = line;
    ASSERT_TRUE(dcbToTermios(lineDcb(166667, 8, NOPARITY, ONESTOPBIT), line));
    EXPECT_EQ(line.cflag, before.cflag);
    EXPECT_EQ(line.iflag, before.iflag);
    EXPECT_EQ(line.lflag, before.lflag);
    EXPECT_EQ(line.oflag, before.oflag);
    EXPECT_EQ(line.cc[VMIN], 1);
    EXPECT_EQ(line.ospeed, 166667u);
    EXPECT_EQ(line.ispeed, 166667u);
}

// A line another program left with hardware and software flow control,
// parity checking and two stop bits, read back as a DCB and given the link's
// line: nothing of it stays. The RTS handshaking the port reported stays in
// the DCB, and must not bring back CTS flow control with it.
TEST(PosixDcbTermios, TheLinkLineClearsWhatHoldsBytesBack) {
    LineTermios line = rawLine();
    line.cflag |= CRTSCTS | CSTOPB | PARENB;
    line.iflag |= IXON | IXOFF | INPCK;
    DCB dcb{};
    termiosToDcb(line, dcb);
    ASSERT_EQ(dcb.fRtsControl, kRtsControlHandshake);
    kronex::setLinkLine(dcb);
    ASSERT_TRUE(dcbToTermios(dcb, line));
    EXPECT_EQ(line.cflag & (CRTSCTS | CSTOPB | PARENB | CSIZE), static_cast<std::uint32_t>(CS8));
    EXPECT_EQ(line.iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(line.ospeed, 166667u);
}

TEST(PosixDcbTermios, WhatAWindowsPortRefusesIsRefusedAndLeavesTheLine) {
    DCB nineBits = lineDcb(9600, 9, NOPARITY, ONESTOPBIT);
    DCB fourBits = lineDcb(9600, 4, NOPARITY, ONESTOPBIT);
    DCB badParity = lineDcb(9600, 8, 5, ONESTOPBIT);
    DCB oneAndHalfWithEight = lineDcb(9600, 8, NOPARITY, kOne5StopBits);
    DCB twoWithFive = lineDcb(9600, 5, NOPARITY, TWOSTOPBITS);
    DCB noRate = lineDcb(0, 8, NOPARITY, ONESTOPBIT);
    DCB sameXonXoff = lineDcb(9600, 8, NOPARITY, ONESTOPBIT);
    sameXonXoff.fOutX = 1;
    sameXonXoff.XoffChar = sameXonXoff.XonChar;
    for (const DCB& dcb :
         {nineBits, fourBits, badParity, oneAndHalfWithEight, twoWithFive, noRate, sameXonXoff}) {
        LineTermios line = rawLine();
        EXPECT_FALSE(dcbToTermios(dcb, line));
        EXPECT_EQ(line.cflag, rawLine().cflag);
        EXPECT_EQ(line.iflag, rawLine().iflag);
        EXPECT_EQ(line.ospeed, rawLine().ospeed);
    }
}

TEST(PosixDcbTermios, FieldsWithoutATermiosEquivalentAreLeftAlone) {
    DCB dcb{};
    dcb.XonLim = 77;
    dcb.EvtChar = 0x7E;
    dcb.fDtrControl = 2;
    termiosToDcb(rawLine(), dcb);
    EXPECT_EQ(dcb.XonLim, 77);
    EXPECT_EQ(dcb.EvtChar, 0x7E);
    EXPECT_EQ(dcb.fDtrControl, 2u);
}

TEST(PosixDcbTermios, ALineDroppingTheAskedFrameWasNotTaken) {
    LineTermios asked = rawLine();
    ASSERT_TRUE(dcbToTermios(lineDcb(9600, 7, EVENPARITY, ONESTOPBIT), asked));
    LineTermios got = asked;
    got.cflag = (got.cflag & ~static_cast<std::uint32_t>(CSIZE | PARENB)) | CS8;
    EXPECT_FALSE(lineTook(asked, got));
    EXPECT_TRUE(lineTook(asked, asked));
}

TEST(PosixDcbTermios, ARateRoundedByTheDriverCountsAsTakenWithinTwoPercent) {
    LineTermios asked = rawLine();
    ASSERT_TRUE(dcbToTermios(lineDcb(166667, 8, NOPARITY, ONESTOPBIT), asked));
    LineTermios got = asked;
    got.ospeed = 166666; // 3 MHz / 18
    EXPECT_TRUE(lineTook(asked, got));
    got.ospeed = 115200; // the driver fell back to a standard rate
    EXPECT_FALSE(lineTook(asked, got));
    got.ospeed = 160000; // 4 % off
    EXPECT_FALSE(lineTook(asked, got));
}

} // namespace
} // namespace kronex::posix
