// The request frame the PC sends after the attention byte, both ways: what a
// command routine puts on the line, and what a trace, a stop report or the
// simulated unit reads back off it.
//
//   run         02 cmd
//   erase, read 04 cmd addrHi addrLo
//   write       85 cmd 08 addrHi addrLo payload(128, coded)
//   data write  85 46 blockHi blockLo half payload(128, coded)
//
// cmd carries kTarget1Bit for target 1; a data write goes to target 0 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kronex {

// The command bytes; a command to target 1 carries kTarget1Bit as well.
inline constexpr std::uint8_t kCmdRun = 0x47;
inline constexpr std::uint8_t kCmdErase = 0x45;
inline constexpr std::uint8_t kCmdRead = 0x44;
inline constexpr std::uint8_t kCmdWrite = 0x57;     // 128 bytes of program memory
inline constexpr std::uint8_t kCmdWriteData = 0x46; // half a data block; target 0 only
inline constexpr std::uint8_t kTarget1Bit = 0x80;
inline constexpr std::size_t kBlockBytes = 128; // a write's payload
inline constexpr std::size_t kMaxFrameBytes = 5 + kBlockBytes;

// Swaps the nibbles and complements the byte: the coding of payload bytes
// in both directions (it is its own inverse).
constexpr std::uint8_t CODIFICA_BYTE(std::uint8_t b) {
    return static_cast<std::uint8_t>(~((b >> 4) | (b << 4)) & 0xFF);
}

struct FrameFields {
    std::uint8_t command = 0;  // without the target bit
    int target = 0;            // 1 or 0
    std::uint16_t address = 0; // a data write: its block number
    std::uint8_t half = 0;     // a data write: 0x00 or 0x80

    // The command byte as it goes on the line.
    std::uint8_t code() const {
        return target == 1 ? static_cast<std::uint8_t>(command | kTarget1Bit) : command;
    }
    bool dataWrite() const { return command == kCmdWriteData && target == 0; }
    bool programWrite() const { return command == kCmdWrite; }
};

// Writes the frame, length byte first, into `out` (room for kMaxFrameBytes)
// and returns its length. A write codes the 128 bytes at `data`; other
// commands take no data. Any target other than 1 is target 0.
std::size_t encodeFrame(const FrameFields& fields, std::uint8_t* out,
                        const std::uint8_t* data = nullptr);

// The fields of the frame whose first `size` bytes are at `bytes`; nullopt
// while too few have come to name its command and address. A command
// byte the unit does not know keeps its address from bytes 2-3.
std::optional<FrameFields> decodeFrame(const std::uint8_t* bytes, std::size_t size);

// True when the `size` bytes are exactly one frame the unit takes: a known
// command at its own length, a write's marker, a data write's half.
bool wholeFrame(const std::uint8_t* bytes, std::size_t size);

// A write frame's 128 bytes, uncoded, into `data`; false (nothing written)
// for any other frame or a cut one.
bool framePayload(const std::uint8_t* bytes, std::size_t size, std::uint8_t* data);

} // namespace kronex
