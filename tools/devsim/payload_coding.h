// The transform the unit applies to every payload byte of a write frame and a
// read reply: swap the nibbles, then complement. It is its own inverse.
#pragma once

#include <cstdint>

namespace kronex::devsim {

constexpr std::uint8_t codeByte(std::uint8_t b) {
    return static_cast<std::uint8_t>(~((b >> 4) | (b << 4)));
}

} // namespace kronex::devsim
