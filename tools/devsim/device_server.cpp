#include "device_server.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kronex::devsim {

namespace {

// A frame that stops arriving half-way is dropped after this long, as the
// unit's own receive time-out does, so the next attention byte is seen again.
constexpr std::chrono::milliseconds kFrameTimeout{1000};

// At full line rate a byte leaves every few tens of microseconds; waking for
// each would cost more than the transfer. Bytes inside a reply may leave up to
// this late, so they go out in batches; the last queued byte (the end of a
// reply, or a lone 0x78) always leaves on time.
constexpr std::chrono::microseconds kBatchDelay{1000};

// A timed wait ends late by the kernel's timer slack and the wake-up, tens of
// microseconds, which on every exchange would add to the line's own time. So
// the loop sleeps until this long before a byte is due and spins the rest.
constexpr std::chrono::microseconds kSpinAhead{100};

// Stop reading the terminal while this much is still waiting to be sent: the
// updater is not reading its answers, and the kernel buffer holds the rest.
constexpr std::size_t kMaxBacklog = 1 << 16;

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

timespec until(LinePacer::Clock::time_point deadline, LinePacer::Clock::time_point now) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::max(deadline - now, LinePacer::Clock::duration::zero()));
    return {static_cast<time_t>(ns.count() / 1'000'000'000),
            static_cast<long>(ns.count() % 1'000'000'000)};
}

} // namespace

DeviceServer::DeviceServer(DeviceModel& model, int master, long baud, std::ostream* transcript)
    : model_(model), master_(master), pacer_(baud), transcript_(transcript) {}

void DeviceServer::run(int signalFd, int stdinFd) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (model_.inFrame() && now >= frameDeadline())
            model_.abandonFrame();
        if (!writeBlocked_)
            writeDue(now);

        // Sleep until the next byte may leave, a stalled frame times out, or
        // something happens on one of the descriptors.
        std::optional<Clock::time_point> wake;
        if (!outbound_.empty() && !writeBlocked_)
            wake = std::min(outbound_.front().at + kBatchDelay, outbound_.back().at);
        if (model_.inFrame())
            wake = wake ? std::min(*wake, frameDeadline()) : frameDeadline();

        if (wake && *wake > now && *wake - now <= kSpinAhead) {
            while (Clock::now() < *wake) {
            }
            continue;
        }

        std::array<pollfd, 3> fds{};
        nfds_t count = 0;
        const short masterEvents = static_cast<short>(
            (outbound_.size() < kMaxBacklog ? POLLIN : 0) | (writeBlocked_ ? POLLOUT : 0));
        fds[count++] = {master_, masterEvents, 0};
        fds[count++] = {signalFd, POLLIN, 0};
        if (stdinFd >= 0)
            fds[count++] = {stdinFd, POLLIN, 0};
        timespec timeout{};
        if (wake)
            timeout = until(*wake - kSpinAhead, now);
        if (ppoll(fds.data(), count, wake ? &timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            fail("ppoll");
        }

        if (fds[1].revents != 0) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) < 0 && errno != EAGAIN)
                fail("read signalfd");
            return;
        }
        if (stdinFd >= 0 && fds[2].revents != 0) {
            std::array<char, 256> discard{};
            if (read(stdinFd, discard.data(), discard.size()) <= 0)
                return;
        }
        const short got = fds[0].revents;
        if (got & POLLOUT)
            writeBlocked_ = false;
        if (got & POLLIN)
            readLine();
        else if (got & (POLLERR | POLLHUP | POLLNVAL))
            throw std::system_error(EIO, std::generic_category(), "terminal hung up");
    }
}

void DeviceServer::readLine() {
    std::array<std::uint8_t, 4096> buffer{};
    const ssize_t n = read(master_, buffer.data(), buffer.size());
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        fail("read terminal");
    }
    // The model has no clock, so every byte is handed over at once; what the
    // line's timing changes is only when the answers may leave.
    const Clock::time_point readAt = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
        lastArrival_ = pacer_.arrival(readAt);
        for (const std::uint8_t out : model_.receive(buffer[static_cast<std::size_t>(i)]))
            outbound_.push_back({pacer_.departure(lastArrival_), out});
    }
    logNewLines();
}

void DeviceServer::writeDue(Clock::time_point now) {
    std::vector<std::uint8_t> due;
    for (const Outgoing& o : outbound_) {
        if (o.at > now)
            break;
        due.push_back(o.byte);
    }
    if (due.empty())
        return;
    const ssize_t n = write(master_, due.data(), due.size());
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            writeBlocked_ = errno == EAGAIN;
            return;
        }
        fail("write terminal");
    }
    outbound_.erase(outbound_.begin(), outbound_.begin() + n);
    // A partial write means the terminal's buffer is full: wait until it drains.
    writeBlocked_ = static_cast<std::size_t>(n) < due.size();
}

void DeviceServer::logNewLines() {
    const auto& lines = model_.transcript();
    if (!transcript_ || logged_ == lines.size())
        return;
    for (; logged_ < lines.size(); ++logged_)
        *transcript_ << lines[logged_] << '\n';
    transcript_->flush();
}

DeviceServer::Clock::time_point DeviceServer::frameDeadline() const {
    return lastArrival_ + kFrameTimeout;
}

} // namespace kronex::devsim
