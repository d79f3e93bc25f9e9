// What a unit holds before anyone writes to it: the identity block of target 0
// and the top blocks of both targets. Deterministic, so tests can compare.
#pragma once

#include <array>
#include <cstdint>

namespace kronex::devsim {

using Block128 = std::array<std::uint8_t, 128>;

// Bytes 3-5 of the identity block: fixed per unit, kept by every update.
inline constexpr std::array<std::uint8_t, 3> kUnitBytes = {0x01, 0x07, 0x22};

// The identity block at 0x2000 of target 0: serial number, unit bytes, then
// what an earlier release left there.
Block128 presetIdentityBlock();

// The block at 0xFF80 of the given target; byte 63 is 0xFF. A unit with
// another serial number has another top block in target 0.
Block128 presetTopBlock(int target, const std::array<std::uint8_t, 3>& serial = {0x0A, 0x1B, 0xC2});

} // namespace kronex::devsim
