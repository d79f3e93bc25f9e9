#include "dcb_termios.h"

#include <termios.h>

namespace kronex::posix {

namespace {

// The bits of the frame and of flow control that a DCB governs.
constexpr std::uint32_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr std::uint32_t kInputFlowBits = IXON | IXOFF | INPCK;

std::uint32_t sizeBits(BYTE byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

BYTE byteSize(std::uint32_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

BYTE parity(std::uint32_t cflag) {
    if (!(cflag & PARENB))
        return NOPARITY;
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? kMarkParity : kSpaceParity;
    return (cflag & PARODD) ? ODDPARITY : EVENPARITY;
}

std::uint32_t parityBits(BYTE parity) {
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case kMarkParity:
        return PARENB | PARODD | CMSPAR;
    case kSpaceParity:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

bool stopBitsValid(const DCB& dcb) {
    // As on a Windows port: 1.5 stop bits only with 5 data bits, 2 only with more.
    switch (dcb.StopBits) {
    case ONESTOPBIT:
        return true;
    case kOne5StopBits:
        return dcb.ByteSize == 5;
    case TWOSTOPBITS:
        return dcb.ByteSize != 5;
    default:
        return false;
    }
}

bool dcbIsValid(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > kSpaceParity)
        return false;
    if (!stopBitsValid(dcb))
        return false;
    return !((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar);
}

} // namespace

void termiosToDcb(const LineTermios& line, DCB& dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = line.ospeed;
    dcb.fBinary = 1;
    dcb.fParity = (line.iflag & INPCK) ? 1 : 0;
    dcb.ByteSize = byteSize(line.cflag);
    dcb.Parity = parity(line.cflag);
    dcb.StopBits =
        (line.cflag & CSTOPB) ? (dcb.ByteSize == 5 ? kOne5StopBits : TWOSTOPBITS) : ONESTOPBIT;
    // CRTSCTS is both halves of RTS/CTS handshaking at once.
    const bool rtsCts = (line.cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = rtsCts ? 1 : 0;
    if (rtsCts)
        dcb.fRtsControl = kRtsControlHandshake;
    else if (dcb.fRtsControl == kRtsControlHandshake)
        dcb.fRtsControl = kRtsControlEnable;
    dcb.fOutX = (line.iflag & IXON) ? 1 : 0;
    dcb.fInX = (line.iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(line.cc[VSTART]);
    dcb.XoffChar = static_cast<char>(line.cc[VSTOP]);
    dcb.EofChar = static_cast<char>(line.cc[VEOF]);
}

bool dcbToTermios(const DCB& dcb, LineTermios& line) {
    if (!dcbIsValid(dcb))
        return false;
    std::uint32_t frame = sizeBits(dcb.ByteSize) | parityBits(dcb.Parity);
    if (dcb.StopBits != ONESTOPBIT)
        frame |= CSTOPB;
    // CRTSCTS holds output back while CTS is low, so only output flow
    // control asks for it. RTS handshaking alone has no termios equivalent:
    // RTS then stays raised.
    if (dcb.fOutxCtsFlow)
        frame |= CRTSCTS;
    std::uint32_t input = 0;
    if (dcb.fOutX)
        input |= IXON;
    if (dcb.fInX)
        input |= IXOFF;
    if (dcb.fParity)
        input |= INPCK;

    line.ospeed = dcb.BaudRate;
    line.ispeed = dcb.BaudRate;
    line.cflag = (line.cflag & ~kFrameBits) | frame;
    line.iflag = (line.iflag & ~kInputFlowBits) | input;
    line.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    line.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
    line.cc[VEOF] = static_cast<std::uint8_t>(dcb.EofChar);
    return true;
}

bool lineTook(const LineTermios& asked, const LineTermios& got) {
    if ((asked.cflag & kFrameBits) != (got.cflag & kFrameBits) ||
        (asked.iflag & kInputFlowBits) != (got.iflag & kInputFlowBits))
        return false;
    const auto want = static_cast<std::uint64_t>(asked.ospeed);
    const auto have = static_cast<std::uint64_t>(got.ospeed);
    const std::uint64_t off = want > have ? want - have : have - want;
    return off * 50 <= want;
}

} // namespace kronex::posix
