// The DCB as a termios line sees it: which flag bits stand for which DCB
// fields. DCB fields without a termios equivalent are the caller's to keep.
#pragma once

#include "line_termios.h"
#include "win32_types.h"

namespace kronex::posix {

// DCB values that win32_types.h does not declare, with their Windows values.
inline constexpr BYTE kOne5StopBits = 1;
inline constexpr BYTE kMarkParity = 3;
inline constexpr BYTE kSpaceParity = 4;
inline constexpr DWORD kRtsControlEnable = 1;
inline constexpr DWORD kRtsControlHandshake = 2;

// Fills the DCB fields a termios line has: rate, frame, flow control and the
// XON/XOFF/EOF characters; fBinary is always set. Other fields are untouched.
void termiosToDcb(const LineTermios& line, DCB& dcb);

// Writes the DCB's rate, frame, flow control and characters into line.
// false (line untouched) when the DCB asks for what a termios line cannot do
// or what Windows refuses too, such as 9 data bits or XON equal to XOFF.
bool dcbToTermios(const DCB& dcb, LineTermios& line);

// Whether the line the device reports holds what was asked. Drivers may
// silently keep a frame they cannot do (a pty keeps 8 bits, no parity) or
// round the rate; a rate within 2 % counts as taken.
bool lineTook(const LineTermios& asked, const LineTermios& got);

} // namespace kronex::posix
