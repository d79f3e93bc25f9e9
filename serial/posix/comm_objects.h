// The objects behind this layer's handles: open ports and events.
#pragma once

#include "port_device.h"
#include "win32_types.h"

#include <atomic>
#include <memory>

namespace kronex::posix {

// An open port with what Windows keeps per handle besides the line itself.
struct Port {
    explicit Port(std::unique_ptr<PortDevice> d) : device(std::move(d)) {}

    std::unique_ptr<PortDevice> device;
    COMMTIMEOUTS timeouts{}; // all zero on a fresh port: no time-outs
    DWORD inQueue = 0;       // SetupComm sizes; termios queues have fixed sizes
    DWORD outQueue = 0;
    DCB kept{}; // the last DCB set, for the fields a termios line does not hold
};

// An event object; nothing in this layer runs in the background, so only the
// calling thread ever sets or takes it.
class Event {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void set() { signalled_ = true; }
    void reset() { signalled_ = false; }
    // Whether it is signalled; an auto-reset event is reset by being taken.
    bool take() { return manualReset_ ? signalled_.load() : signalled_.exchange(false); }

  private:
    const bool manualReset_;
    std::atomic<bool> signalled_;
};

} // namespace kronex::posix
