// What COMMTIMEOUTS mean for one transfer of N bytes, as a Windows serial
// driver applies them.
#pragma once

#include "win32_types.h"

#include <chrono>
#include <optional>

namespace kronex::posix {

struct TransferLimits {
    // From the start of the transfer; none: no limit.
    std::optional<std::chrono::milliseconds> total;
    // After each byte, counted only once the first byte has come; none: not used.
    std::optional<std::chrono::milliseconds> interval;
    // How long one byte takes on the line (10 bits), where the rate is known:
    // a write waits for its queue to drain in steps of about that size.
    std::chrono::nanoseconds byteTime{0};
};

// ReadIntervalTimeout MAXDWORD asks for "return with what is there": after
// a byte the read ends once the line is quiet, and with no total limit it
// does not wait at all. With ReadTotalTimeoutMultiplier MAXDWORD as well, the
// read waits up to ReadTotalTimeoutConstant for the first byte.
TransferLimits readLimits(const COMMTIMEOUTS& timeouts, DWORD count);

TransferLimits writeLimits(const COMMTIMEOUTS& timeouts, DWORD count);

// Windows refuses all three read values at MAXDWORD.
bool timeoutsValid(const COMMTIMEOUTS& timeouts);

} // namespace kronex::posix
