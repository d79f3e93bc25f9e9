// The only source file that sees the kernel's termios definitions.
#include "line_termios.h"

#include <algorithm>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#if defined(TCGETS2)
using KernelTermios = struct termios2;
#define KRONEX_TCGETS TCGETS2
#define KRONEX_TCSETS TCSETS2
#else
// Architectures without termios2 (powerpc) carry the speeds in termios itself.
using KernelTermios = struct termios;
#define KRONEX_TCGETS TCGETS
#define KRONEX_TCSETS TCSETS
#endif

namespace kronex::posix {

static_assert(NCCS <= std::tuple_size_v<decltype(LineTermios::cc)>);

bool readLineTermios(int fd, LineTermios& out) {
    KernelTermios k{};
    if (ioctl(fd, KRONEX_TCGETS, &k) != 0)
        return false;
    out = LineTermios{};
    out.iflag = k.c_iflag;
    out.oflag = k.c_oflag;
    out.cflag = k.c_cflag;
    out.lflag = k.c_lflag;
    out.line = k.c_line;
    std::copy(std::begin(k.c_cc), std::end(k.c_cc), out.cc.begin());
    out.ispeed = k.c_ispeed;
    out.ospeed = k.c_ospeed;
    return true;
}

bool writeLineTermios(int fd, const LineTermios& in) {
    KernelTermios k{};
    k.c_iflag = in.iflag;
    k.c_oflag = in.oflag;
    k.c_cflag = in.cflag;
    k.c_lflag = in.lflag;
    k.c_line = in.line;
    std::copy_n(in.cc.begin(), NCCS, std::begin(k.c_cc));
    k.c_ispeed = in.ispeed;
    k.c_ospeed = in.ospeed;
    if (in.ospeed != 0) {
        // Clearing the input rate bits makes the input run at the output rate.
        k.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
        k.c_cflag |= BOTHER;
        k.c_ispeed = in.ospeed;
    }
    return ioctl(fd, KRONEX_TCSETS, &k) == 0;
}

} // namespace kronex::posix
