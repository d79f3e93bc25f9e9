// Where the unit keeps what names it and what the update left in it: the
// identity block (target 0) and the top block with the session's mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kronex {

inline constexpr std::uint16_t kIdentityBlockAddress = 0x2000;
inline constexpr std::uint16_t kTopBlockAddress = 0xFF80; // either target's

// The identity block, byte by byte. Bytes 0-5 belong to the unit and no
// update changes them; the rest is written by every update.
inline constexpr std::size_t kSerialBytes = 3;      // bytes 0-2: the serial number
inline constexpr std::size_t kUnitBytesFirst = 3;   // bytes 3-5: fixed per unit
inline constexpr std::size_t kOwnIdentityBytes = 6; // serial number and unit bytes
inline constexpr std::size_t kReleaseByte = 6;      // the release installed last
inline constexpr std::size_t kSecondEraseByte = 7;  // bytes 7-8, high byte first
inline constexpr std::size_t kFirstEraseByte = 9;   // bytes 9-10, high byte first
inline constexpr std::size_t kDirectoryStart = 11;  // two bytes per data section

// The top block's byte that the session sets once it has written the block
// back: a unit whose top block carries it has been into an update.
inline constexpr std::size_t kTopBlockMark = 63;
inline constexpr std::uint8_t kTopBlockMarkValue = 0xFE;

// The serial number as people read it: "29" and bytes 0-2 in upper-case
// hexadecimal ("290A1BC2").
std::string serialText(const std::uint8_t* identity);

// The erase address stored from `at` on (kFirstEraseByte or kSecondEraseByte).
inline unsigned eraseAddressAt(const std::uint8_t* identity, std::size_t at) {
    return static_cast<unsigned>(identity[at] << 8 | identity[at + 1]);
}
inline void putEraseAddress(std::uint8_t* identity, std::size_t at, unsigned address) {
    identity[at] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    identity[at + 1] = static_cast<std::uint8_t>(address & 0xFF);
}

} // namespace kronex
