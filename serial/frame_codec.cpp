#include "frame_codec.h"

namespace kronex {

namespace {

constexpr std::uint8_t kRunLength = 2;
constexpr std::uint8_t kAddressLength = 4;
constexpr std::uint8_t kWriteLength = kMaxFrameBytes; // 0x85
constexpr std::uint8_t kWriteMarker = 0x08;
constexpr std::size_t kPayloadAt = 5;

std::uint8_t high(unsigned v) {
    return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
std::uint8_t low(unsigned v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint16_t word(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// The bytes a frame of this command byte needs before its fields are known.
std::size_t namedAfter(std::uint8_t code) {
    const auto command = static_cast<std::uint8_t>(code & ~kTarget1Bit);
    if (code == kCmdWriteData || command == kCmdWrite)
        return kPayloadAt;
    return command == kCmdRun ? kRunLength : kAddressLength;
}

} // namespace

std::size_t encodeFrame(const FrameFields& f, std::uint8_t* out, const std::uint8_t* data) {
    out[1] = f.code();
    if (f.command == kCmdRun) {
        out[0] = kRunLength;
        return kRunLength;
    }
    if (!f.dataWrite() && !f.programWrite()) {
        out[0] = kAddressLength;
        out[2] = high(f.address);
        out[3] = low(f.address);
        return kAddressLength;
    }
    out[0] = kWriteLength;
    if (f.dataWrite()) {
        out[2] = high(f.address);
        out[3] = low(f.address);
        out[4] = f.half;
    } else {
        out[2] = kWriteMarker;
        out[3] = high(f.address);
        out[4] = low(f.address);
    }
    for (std::size_t i = 0; i < kBlockBytes; ++i)
        out[kPayloadAt + i] = CODIFICA_BYTE(data[i]);
    return kWriteLength;
}

std::optional<FrameFields> decodeFrame(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2 || size < namedAfter(bytes[1]))
        return std::nullopt;
    FrameFields f;
    f.command = static_cast<std::uint8_t>(bytes[1] & ~kTarget1Bit);
    f.target = (bytes[1] & kTarget1Bit) ? 1 : 0;
    if (f.dataWrite()) {
        f.address = word(bytes + 2);
        f.half = bytes[4];
    } else if (f.programWrite()) {
        f.address = word(bytes + 3);
    } else if (f.command != kCmdRun) {
        f.address = word(bytes + 2);
    }
    return f;
}

bool wholeFrame(const std::uint8_t* bytes, std::size_t size) {
    const auto f = decodeFrame(bytes, size);
    if (!f)
        return false;
    switch (f->command) {
    case kCmdRun:
        return size == kRunLength;
    case kCmdErase:
    case kCmdRead:
        return size == kAddressLength;
    case kCmdWrite:
        return size == kWriteLength && bytes[2] == kWriteMarker;
    case kCmdWriteData:
        return f->dataWrite() && size == kWriteLength && (f->half == 0x00 || f->half == 0x80);
    default:
        return false;
    }
}

bool framePayload(const std::uint8_t* bytes, std::size_t size, std::uint8_t* data) {
    const auto f = decodeFrame(bytes, size);
    if (!f || !(f->dataWrite() || f->programWrite()) || size < kWriteLength)
        return false;
    for (std::size_t i = 0; i < kBlockBytes; ++i)
        data[i] = CODIFICA_BYTE(bytes[kPayloadAt + i]);
    return true;
}

} // namespace kronex
