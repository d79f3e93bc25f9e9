// The one clock of this layer: CLOCK_MONOTONIC, which no change of the
// wall-clock time moves, so time-outs and GetTickCount stay honest.
#pragma once

#include <chrono>
#include <cstdint>

namespace kronex::posix {

using MonotonicTime = std::chrono::nanoseconds; // since an arbitrary start

MonotonicTime monotonicNow();

// Milliseconds of the monotonic clock, wrapping at 2^32 as GetTickCount does.
std::uint32_t tickCount();

// Sleeps the whole time even when signals interrupt the sleep.
void sleepFor(std::chrono::nanoseconds duration);

} // namespace kronex::posix
