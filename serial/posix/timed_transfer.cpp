#include "timed_transfer.h"

#include "monotonic_clock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kronex::posix {

namespace {

using namespace std::chrono_literals;
using Deadline = std::optional<MonotonicTime>; // none: no limit

Deadline after(MonotonicTime from, const std::optional<std::chrono::milliseconds>& limit) {
    if (!limit)
        return std::nullopt;
    return from + *limit;
}

Deadline earlier(Deadline a, Deadline b) {
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

enum class Wait { Ready, TimedOut, Broken };

Wait waitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        int timeoutMs = -1;
        if (deadline) {
            const auto left = *deadline - monotonicNow();
            if (left <= 0ns)
                return Wait::TimedOut;
            // Rounded up: waking before the deadline would only poll again.
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            timeoutMs = static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno != EINTR)
            return Wait::Broken;
        if (ready <= 0)
            continue; // interrupted or timed out: the deadline is checked again
        // A hang-up or error with no data to go on ends the transfer.
        return (p.revents & events) ? Wait::Ready : Wait::Broken;
    }
}

void lost(bool* lineLost) {
    if (lineLost)
        *lineLost = true;
}

bool wouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK;
}

// Bytes of ours still in the output queue once it empties or the deadline
// passes; those left at the deadline are flushed. Nothing signals an emptied
// queue, so it is looked at again after about the time the queued bytes take
// on the line (a byte at 166667 baud takes 60 us, so a fixed 1 ms step would
// make one-byte writes many times slower than the line).
std::size_t unsentAfter(int fd, std::size_t ours, Deadline deadline,
                        std::chrono::nanoseconds byteTime) {
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return 0;
        if (deadline && monotonicNow() >= *deadline) {
            tcflush(fd, TCOFLUSH);
            return std::min(static_cast<std::size_t>(queued), ours);
        }
        const auto step = byteTime > 0ns ? byteTime * queued : 1ms;
        sleepFor(std::clamp<std::chrono::nanoseconds>(step, 20us, 1ms));
    }
}

} // namespace

std::size_t readWithin(int fd, std::uint8_t* buffer, std::size_t count,
                       const TransferLimits& limits, bool* lineLost) {
    const Deadline total = after(monotonicNow(), limits.total);
    Deadline quiet; // restarts at every byte, once the first has come
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            quiet = after(monotonicNow(), limits.interval);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // End of file or a failure such as EIO: the line hung up; keep what came.
        if (n == 0 || !wouldBlock(errno)) {
            lost(lineLost);
            break;
        }
        const Wait w = waitFor(fd, POLLIN, earlier(total, quiet));
        if (w == Wait::Broken)
            lost(lineLost);
        if (w != Wait::Ready)
            break;
    }
    return got;
}

std::size_t writeWithin(int fd, const std::uint8_t* data, std::size_t count,
                        const TransferLimits& limits, bool* lineLost) {
    const Deadline total = after(monotonicNow(), limits.total);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd, data + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || !wouldBlock(errno)) {
            lost(lineLost);
            break;
        }
        const Wait w = waitFor(fd, POLLOUT, total);
        if (w == Wait::Broken)
            lost(lineLost);
        if (w != Wait::Ready)
            break;
    }
    return sent - unsentAfter(fd, sent, total, limits.byteTime);
}

} // namespace kronex::posix
