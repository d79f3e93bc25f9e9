// A line's full settings as the kernel's termios2 holds them, speeds in bits
// per second. The flag words carry the kernel's bit values, which glibc's
// <termios.h> constants share, so the rest of the layer works on them with
// glibc's names while the termios2 ioctls stay in termios2_ioctl.cpp alone
// (<asm/termbits.h> cannot be included next to <termios.h>).
#pragma once

#include <array>
#include <cstdint>

namespace kronex::posix {

struct LineTermios {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::array<std::uint8_t, 32> cc{}; // indexed by VSTART, VSTOP, VMIN...
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;
};

// The line's current settings; false with errno set when the device refuses.
bool readLineTermios(int fd, LineTermios& out);

// Applies every setting in one ioctl, so a refusal changes nothing. A
// non-zero ospeed is set as an arbitrary rate (BOTHER) for both directions.
// false with errno set when the device refuses.
bool writeLineTermios(int fd, const LineTermios& in);

} // namespace kronex::posix
