#include "transfer_limits.h"

#include <algorithm>
#include <cstdint>

namespace kronex::posix {

namespace {

// multiplier x count + constant without overflow; clamped far beyond any
// real wait so that deadlines stay within the clock's range.
std::chrono::milliseconds totalOf(DWORD multiplier, DWORD count, DWORD constant) {
    constexpr std::uint64_t kLongest = std::uint64_t{1} << 40; // about 35 years
    const std::uint64_t product = std::uint64_t{multiplier} * count;
    const std::uint64_t sum = std::min(product, kLongest) + constant;
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(sum, kLongest)));
}

} // namespace

TransferLimits readLimits(const COMMTIMEOUTS& t, DWORD count) {
    TransferLimits limits;
    const bool returnWhatIsThere = t.ReadIntervalTimeout == MAXDWORD;
    if (returnWhatIsThere)
        limits.interval = std::chrono::milliseconds(0);
    else if (t.ReadIntervalTimeout != 0)
        limits.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);

    if (returnWhatIsThere && t.ReadTotalTimeoutMultiplier == MAXDWORD)
        limits.total = std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        limits.total = totalOf(t.ReadTotalTimeoutMultiplier, count, t.ReadTotalTimeoutConstant);
    else if (returnWhatIsThere)
        limits.total = std::chrono::milliseconds(0);
    return limits;
}

TransferLimits writeLimits(const COMMTIMEOUTS& t, DWORD count) {
    TransferLimits limits;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
        limits.total = totalOf(t.WriteTotalTimeoutMultiplier, count, t.WriteTotalTimeoutConstant);
    return limits;
}

bool timeoutsValid(const COMMTIMEOUTS& t) {
    return !(t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
             t.ReadTotalTimeoutConstant == MAXDWORD);
}

} // namespace kronex::posix
