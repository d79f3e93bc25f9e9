#include "low_latency.h"

#include "comm_api.h"

#include <atomic>
#include <sys/ioctl.h>

namespace kronex {

namespace {
std::atomic<bool> asked{false};
} // namespace

void askLowLatency(bool on) {
    asked = on;
}

namespace posix {

namespace {
int systemSerialInfoCall(int fd, unsigned long request, serial_struct* info) {
    return ::ioctl(fd, request, info);
}
} // namespace

SerialInfoCall serialInfoCall = systemSerialInfoCall;

bool lowLatencyAsked() {
    return asked;
}

LatencyChange askLowLatencyOn(int fd) {
    LatencyChange change;
    serial_struct info{};
    if (serialInfoCall(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0)
        return change;
    serial_struct lowered = info;
    lowered.flags |= ASYNC_LOW_LATENCY;
    if (serialInfoCall(fd, TIOCSSERIAL, &lowered) != 0)
        return change; // refused (not a serial driver, or not allowed): as it was
    change.changed = true;
    change.before = info;
    return change;
}

void restoreLatency(int fd, const LatencyChange& change) {
    if (!change.changed)
        return;
    serial_struct info = change.before;
    serialInfoCall(fd, TIOCSSERIAL, &info); // a port gone by now has nothing to restore
}

} // namespace posix
} // namespace kronex
