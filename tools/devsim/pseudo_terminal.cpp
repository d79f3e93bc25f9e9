#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace kronex::devsim {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        fail("posix_openpt");
    try {
        if (grantpt(master_) != 0)
            fail("grantpt");
        if (unlockpt(master_) != 0)
            fail("unlockpt");
        char name[256];
        if (const int e = ptsname_r(master_, name, sizeof name); e != 0) {
            errno = e;
            fail("ptsname_r");
        }
        slavePath_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            fail("open the terminal's slave side");
        termios t{};
        if (tcgetattr(slave_, &t) != 0)
            fail("tcgetattr");
        // A serial line carries bytes untouched: no echo, no line editing, no
        // translation of carriage returns or of 0x00, 0x03 and friends.
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        if (tcsetattr(slave_, TCSANOW, &t) != 0)
            fail("tcsetattr");
    } catch (...) {
        if (slave_ >= 0)
            close(slave_);
        close(master_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    close(slave_);
    close(master_);
}

} // namespace kronex::devsim
