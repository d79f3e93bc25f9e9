// The serial line's timing, which a pseudo-terminal does not have: at a given
// rate a byte occupies the line for 10 bit times in each direction.
#pragma once

#include <chrono>

namespace kronex::devsim {

class LinePacer {
  public:
    using Clock = std::chrono::steady_clock;

    // baud 0: no pacing, every byte is through the moment it is handed over.
    explicit LinePacer(long baud);

    // A byte from the PC that we read at `readAt` has fully arrived (and may be
    // answered) at the returned time: bytes arrive one line time apart.
    Clock::time_point arrival(Clock::time_point readAt);

    // A byte the unit has ready at `readyAt` leaves the line at the returned
    // time, after the bytes queued before it.
    Clock::time_point departure(Clock::time_point readyAt);

    Clock::duration byteTime() const { return byteTime_; }

  private:
    Clock::duration byteTime_;
    Clock::time_point rxFree_{};
    Clock::time_point txFree_{};
};

} // namespace kronex::devsim
