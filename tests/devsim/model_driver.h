// Plays the PC's side of the framed exchange against a DeviceModel in process.
#pragma once

#include "device_model.h"

#include <cstdint>
#include <vector>

namespace kronex::devsim::test {

using Bytes = std::vector<std::uint8_t>;

// Everything the unit sends back while it is given these bytes.
Bytes feed(DeviceModel& unit, const Bytes& bytes);

// What came back to the attention byte, and then to the frame.
struct Exchange {
    Bytes ack;
    Bytes reply;
};
Exchange exchangeFrame(DeviceModel& unit, const Bytes& frame);

// Request frames as the updater builds them; payloads are given plain and coded here.
Bytes runFrame(int target);
Bytes eraseFrame(int target, std::uint16_t address);
Bytes readFrame(int target, std::uint16_t address);
Bytes writeFrame(int target, std::uint16_t address, const Bytes& plain128);
Bytes dataFrame(std::uint16_t block, std::uint8_t offset, const Bytes& plain128);

// `count` bytes of a memory from `from` on.
Bytes slice(const DeviceModel::Memory& m, std::size_t from, std::size_t count);

// 128 distinct-looking bytes derived from seed.
Bytes pattern(std::uint8_t seed);

// The 128 plain bytes carried by a complete read reply (82 status data...).
Bytes decodeReadReply(const Bytes& reply);

inline const Bytes kAccepted = {0x02, 0xAA};
inline const Bytes kRejected = {0x02, 0x55};

} // namespace kronex::devsim::test
