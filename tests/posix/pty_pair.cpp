#include "pty_pair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace kronex::test {

namespace {

bool waitFor(int fd, short events, std::chrono::milliseconds wait) {
    pollfd p{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (p.revents & events);
}

} // namespace

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slavePath_ = name;
    // The slave starts as a terminal does, translating, echoing and flow
    // controlling, so that the layer has to make it raw itself. (Settings
    // made through the master would land on the slave too.)
    termios cooked{};
    tcgetattr(slave_, &cooked);
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    tcsetattr(slave_, TCSANOW, &cooked);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    unitHangsUp();
}

void PtyPair::unitHangsUp() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

void PtyPair::unitSends(const Bytes& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else if (!waitFor(master_, POLLOUT, std::chrono::milliseconds(1000)))
            throw std::runtime_error("the pty master takes no more bytes");
    }
}

Bytes PtyPair::unitReceives(std::size_t atMost, std::chrono::milliseconds quiet) {
    Bytes got;
    std::uint8_t chunk[4096];
    while (got.size() < atMost && waitFor(master_, POLLIN, quiet)) {
        const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, atMost - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

bool PtyPair::portHasInput(std::chrono::milliseconds wait) {
    return waitFor(slave_, POLLIN, wait);
}

} // namespace kronex::test
