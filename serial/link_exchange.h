// One framed exchange with the unit: attention byte, its complement back,
// the request frame, then a length-prefixed reply.
#pragma once

#include "frame_codec.h"
#include "serial_port.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace kronex {

// Why the last exchange failed.
enum LinkStatus : std::uint8_t {
    LINK_OK = 0,
    LINK_WRITE_FAILED = 1, // the attention byte or a frame byte could not be written
    LINK_ZERO_LENGTH = 2,  // the reply's length byte was 0
    LINK_SHORT_READ = 4,   // a read did not deliver every byte asked for, or the port failed
    LINK_TIMEOUT = 5,      // 5000 ms passed without the expected byte
};

class LinkExchange {
  public:
    static constexpr std::size_t kBufferSize = 521;
    static constexpr std::uint32_t kReplyWindowMs = 5000;

    explicit LinkExchange(SerialPort& port) : port_(port) {}

    // Purges the port, sends the attention byte, waits for its complement
    // (other bytes are skipped) and sends frame bytes 0 to frame[0]-1, one
    // write each, or all in one write with `wholeFrames`. True when the
    // status ends at LINK_OK. Here and below, a port that has failed ends a
    // wait at once instead of at the window's end.
    bool ENVIA_QUADRO();
    // Reads one reply: its length byte, then the rest from reply[0] on (the
    // status byte overwrites the length). Does not look at the status.
    bool RECEBE_RESPOSTA();

    SerialPort& port() { return port_; }
    const SerialPort& port() const { return port_; }

    // Byte 0 is the frame length, which counts itself; byte 1 the command.
    std::array<std::uint8_t, kBufferSize> frame{};
    // The last reply without its length byte: status, then data.
    std::array<std::uint8_t, kBufferSize> reply{};
    unsigned replyLength = 0;
    std::uint8_t status = LINK_OK;
    // 0x00 until the compatibility check sets it.
    std::uint8_t attention = 0x00;
    // The request frame goes to the driver as one write instead of one per
    // byte. The line carries the same bytes in the same order either way;
    // through a USB adapter each write costs a USB frame (1 ms at full
    // speed), so this takes an update from minutes to seconds there. The
    // window keeps its per-byte writes; kronex-update sets this.
    bool wholeFrames = false;
    // Exchanges begun since the link was made, and whether the last one's
    // frame went out whole: what a stop report names.
    unsigned exchanges = 0;
    bool frameSent = false;
    // The erase-and-write pair under way, numbered from 1; 0 between pairs. A
    // stop asked for during one waits for its write, so that no block is
    // left erased by the stop. Read by the thread that asks for stops.
    std::atomic<unsigned> erasePair{0};
    unsigned erasePairs = 0; // pairs begun

  private:
    std::uint32_t elapsedSince(std::uint32_t start) {
        return port_.api().GetTickCount() - start; // unsigned: a wrap is harmless
    }
    SerialPort& port_;
};

} // namespace kronex
