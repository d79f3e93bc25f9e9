// Getting hold of a serial device the way Windows opens a COM port: for this
// handle alone, with fresh queues, and with no line discipline in the way.
#pragma once

#include "low_latency.h"
#include "win32_types.h"

#include <memory>
#include <string>

namespace kronex::posix {

class PortDevice {
  public:
    explicit PortDevice(int fd) : fd_(fd) {}
    ~PortDevice(); // gives up the exclusive hold and closes
    PortDevice(const PortDevice&) = delete;
    PortDevice& operator=(const PortDevice&) = delete;

    int fd() const { return fd_; }
    // Asks the driver for its lowest latency until the close.
    void askLowLatency() { latency_ = askLowLatencyOn(fd_); }

  private:
    int fd_;
    LatencyChange latency_;
};

// Opens path non-blocking for reading and writing, held against every other
// open (another program's or our own), in raw 8-bit mode, queues emptied,
// at the driver's lowest latency when that was asked for (askLowLatency).
// nullptr with error set to the Win32 code when the device cannot be had.
std::unique_ptr<PortDevice> openPortDevice(const std::string& path, DWORD& error);

} // namespace kronex::posix
