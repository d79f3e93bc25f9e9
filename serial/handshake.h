// The handshake: one byte out, one back. A unit in update mode answers it at
// any time outside a frame, also right after it restarts.
#pragma once

#include <cstdint>

namespace kronex {

inline constexpr std::uint8_t kHandshake = 0xBC;
inline constexpr std::uint8_t kHandshakeAnswer = 0x43; // "C"

} // namespace kronex
