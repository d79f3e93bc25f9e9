// Moving bytes through a non-blocking descriptor within TransferLimits: the
// Windows time-out rules on top of poll() and the monotonic clock.
#pragma once

#include "transfer_limits.h"

#include <cstddef>
#include <cstdint>

namespace kronex::posix {

// Reads up to count bytes into buffer and answers how many came. Ends when
// count is reached, a limit passes, or the line hangs up or fails; the last
// two set *lineLost when it is given.
std::size_t readWithin(int fd, std::uint8_t* buffer, std::size_t count,
                       const TransferLimits& limits, bool* lineLost = nullptr);

// Writes count bytes and waits until they have left the output queue;
// answers how many did. What is still queued when the total limit passes is
// dropped, as a timed-out write on Windows sends no more of its data. A line
// that hangs up or fails ends the write and sets *lineLost when it is given.
std::size_t writeWithin(int fd, const std::uint8_t* data, std::size_t count,
                        const TransferLimits& limits, bool* lineLost = nullptr);

} // namespace kronex::posix
