// kronex-bench-replay: the bytes of a whole update as kronex-bench-update
// recorded them, sent and read again on a terminal with nothing but the
// system calls the line's rules need: one write per byte, each waited for
// until the output queue is empty, the same purges and reads and the same
// pause. What this costs over the line's floor belongs to the terminal, the
// simulated unit and the machine, not to the program.
//
//   kronex-bench-replay TERMINAL RECORD
//
// Prints "wall_ns N" and exits 0 when every read got what the program got.
#include "process_stats.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using kronex::bench::monotonicNs;

namespace {

constexpr unsigned kPurgeTransmit = 0x0004; // PURGE_TXCLEAR
constexpr unsigned kPurgeReceive = 0x0008;  // PURGE_RXCLEAR

struct Op {
    char kind = 0;                   // P, W, R or S
    unsigned a = 0;                  // P: flags, R: asked, S: ms
    unsigned b = 0;                  // R: got
    std::vector<unsigned char> data; // W
};

bool writeAll(int fd, const unsigned char* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    // Completed once the bytes have left the output queue.
    for (int queued = 1; ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0;)
        std::this_thread::sleep_for(std::chrono::microseconds(60 * queued));
    return true;
}

// Reads `got` bytes; a one-byte read that the program saw end empty waits
// out the same 100 ms.
bool readAll(int fd, unsigned asked, unsigned got) {
    unsigned char buffer[600];
    const std::int64_t deadline =
        monotonicNs() + (got == 0 ? 100'000'000LL * asked : 5'000'000'000LL);
    unsigned have = 0;
    while (have < got || got == 0) {
        const ssize_t n = read(fd, buffer, got == 0 ? 1 : got - have);
        if (n > 0) {
            have += static_cast<unsigned>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const std::int64_t left = deadline - monotonicNs();
        if (left <= 0)
            return got == 0;
        pollfd p{fd, POLLIN, 0};
        timespec t{static_cast<time_t>(left / 1'000'000'000),
                   static_cast<long>(left % 1'000'000'000)};
        ppoll(&p, 1, &t, nullptr);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kronex-bench-replay TERMINAL RECORD\n");
        return 2;
    }
    std::vector<Op> ops;
    std::ifstream in(argv[2]);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Op op;
        fields >> op.kind;
        if (op.kind == 'W') {
            for (std::string hex; fields >> hex;)
                op.data.push_back(
                    static_cast<unsigned char>(std::strtoul(hex.c_str(), nullptr, 16)));
        } else {
            fields >> op.a >> op.b;
        }
        ops.push_back(std::move(op));
    }
    if (ops.empty()) {
        std::fprintf(stderr, "kronex-bench-replay: nothing recorded in %s\n", argv[2]);
        return 1;
    }

    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        std::fprintf(stderr, "kronex-bench-replay: cannot open %s\n", argv[1]);
        return 1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);

    const std::int64_t start = monotonicNs();
    for (const Op& op : ops) {
        bool ok = true;
        switch (op.kind) {
        case 'P':
            tcflush(fd, (op.a & kPurgeTransmit) && (op.a & kPurgeReceive) ? TCIOFLUSH
                        : (op.a & kPurgeTransmit)                         ? TCOFLUSH
                                                                          : TCIFLUSH);
            break;
        case 'W':
            ok = writeAll(fd, op.data.data(), op.data.size());
            break;
        case 'R':
            ok = readAll(fd, op.a, op.b);
            break;
        case 'S':
            std::this_thread::sleep_for(std::chrono::milliseconds(op.a));
            break;
        default:
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "kronex-bench-replay: the unit did not answer as recorded\n");
            return 1;
        }
    }
    std::printf("wall_ns %lld\n", static_cast<long long>(monotonicNs() - start));
    close(fd);
    return 0;
}
