// The simulated unit behind a fake port.
#pragma once

#include "device_model.h"
#include "fake_comm.h"

namespace kronex::test {

inline Peer devicePeer(devsim::DeviceModel& unit) {
    return [&unit](std::uint8_t b) { return unit.receive(b); };
}

} // namespace kronex::test
