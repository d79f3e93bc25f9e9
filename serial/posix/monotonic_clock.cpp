#include "monotonic_clock.h"

#include <cerrno>
#include <ctime>

namespace kronex::posix {

MonotonicTime monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::uint32_t tickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(monotonicNow());
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms.count()));
}

void sleepFor(std::chrono::nanoseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec left{};
    left.tv_sec = static_cast<time_t>(seconds.count());
    left.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds).count());
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace kronex::posix
