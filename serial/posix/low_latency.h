// The driver's lowest latency while a port is open: the serial line's
// low-latency flag (TIOCSSERIAL, ASYNC_LOW_LATENCY). An FTDI adapter's
// driver turns it into a 1 ms latency timer instead of its 16 ms default;
// other drivers ignore it or refuse it, as a pseudo-terminal does. Either
// way the port works as before: a refusal only leaves the latency as it was.
#pragma once

#include <linux/serial.h>

namespace kronex::posix {

// The ioctl the flag is read and set through; tests put their own in its place.
using SerialInfoCall = int (*)(int fd, unsigned long request, serial_struct* info);
extern SerialInfoCall serialInfoCall;

// Whether ports opened from now on ask for the flag (askLowLatency in comm_api.h).
bool lowLatencyAsked();

// What asking changed, to be put back at close.
struct LatencyChange {
    bool changed = false;
    serial_struct before{};
};

// Sets the flag when the driver tells its flags and the flag is not yet set.
LatencyChange askLowLatencyOn(int fd);
// Puts back what askLowLatencyOn changed; nothing when it changed nothing.
void restoreLatency(int fd, const LatencyChange& change);

} // namespace kronex::posix
