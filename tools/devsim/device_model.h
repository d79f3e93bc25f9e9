// The KRONEX unit in update mode, as the updater sees it over the cable:
// bytes in, bytes out. No clock and no I/O, so the same model serves the
// in-process fake port of the tests and the pseudo-terminal of kronex-devsim.
#pragma once

#include "handshake.h"
#include "identity_layout.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kronex::devsim {

// Faults to inject. Exchanges count the attention bytes (0x87) the unit has
// seen, from 1; handshakes count the 0xBC bytes, from 1. 0 means "never".
struct Faults {
    int silentFromExchange = 0;   // from this exchange on the unit answers nothing at all
    int nakAtExchange = 0;        // status 0x55 instead of 0xAA
    int shortReplyAtExchange = 0; // the reply's last byte is not sent
    int zeroLengthAtExchange = 0; // the reply is a single length byte 0x00
    int cutReplyAtExchange = 0;   // only the first half of the reply is sent
    int noiseBeforeAck = 0;       // noise bytes sent before every 0x78
    int noiseAtExchange = 0;      // eight noise bytes before the 0x78 of this exchange
    int deafAtExchange = 0;       // this exchange's attention byte goes unanswered, once
    int corruptAtExchange = 0;    // this write is acknowledged, its first byte kept inverted
    int handshakeFrom = 1;        // "C" only from this handshake on
    bool incompatible = false;    // answers "C" but never 0x78
    // Power lost while the command of this exchange runs: its frame arrived
    // whole, the first `powerCutAfterBytes` bytes of its erase or write were
    // done and the next one half done (see cutByte), no reply went out, and
    // from then on the unit answers nothing, as after silentFromExchange.
    int powerCutAtExchange = 0;
    int powerCutAfterBytes = 0;
};

// The byte a power cut caught half done: its upper four bits done, its lower
// four as they were. An erase only turns bits to 1, a write only to 0.
inline std::uint8_t cutErase(std::uint8_t old) {
    return static_cast<std::uint8_t>(old | 0xF0);
}
inline std::uint8_t cutWrite(std::uint8_t old, std::uint8_t wanted) {
    return static_cast<std::uint8_t>(old & (wanted | 0x0F));
}

// The facts the updater and the unit share are written once, with the updater.
using kronex::kHandshake;
using kronex::kHandshakeAnswer;
using kronex::kTopBlockAddress;
using kronex::kTopBlockMark;
using kronex::kTopBlockMarkValue;
inline constexpr std::uint8_t kAttention = 0x87;
inline constexpr std::uint8_t kAck = 0xAA;
inline constexpr std::uint8_t kNak = 0x55;
inline constexpr std::uint16_t kIdentityAddress = kronex::kIdentityBlockAddress;

class DeviceModel {
  public:
    using Memory = std::array<std::uint8_t, 0x10000>;

    explicit DeviceModel(Faults faults = {});

    // One byte from the PC; returns what the unit sends back in answer.
    std::vector<std::uint8_t> receive(std::uint8_t byte);

    // Program memories of targets 0 and 1 (erased 0xFF, with the preset
    // identity block at 0x2000 and top blocks at 0xFF80). An erase sets 512
    // bytes from its address to 0xFF (wrapping past 0xFFFF); a write only
    // clears bits, so over bytes that were not erased it leaves old & new.
    Memory& program(int target) { return target == 1 ? target1_ : target0_; }
    const Memory& program(int target) const { return target == 1 ? target1_ : target0_; }
    // Data memory byte at block * 256 + offset (0xFF where never written).
    std::uint8_t dataByte(std::uint32_t position) const;
    // Highest data position written plus one.
    std::uint32_t dataExtent() const { return dataExtent_; }

    // One readable line per command, in order ("ERASE t0 4000", ...).
    const std::vector<std::string>& transcript() const { return transcript_; }
    int exchanges() const { return exchanges_; }
    int handshakes() const { return handshakes_; }

    // Serial number bytes 0-2 of the preset identity block.
    static constexpr std::array<std::uint8_t, 3> kSerial = {0x0A, 0x1B, 0xC2};
    // Another unit: its identity block carries `serial` and target 0's top
    // block is its own too, as on real units that differ there.
    void presetSerial(const std::array<std::uint8_t, 3>& serial);
    // Target 0's top block as the unit with `like` holds it (its own when
    // none), with the mark an update sets where `marked`.
    void presetTop(const std::optional<std::array<std::uint8_t, 3>>& like, bool marked);
    // The identity block's erase (0x2000-0x21FF) done and its write never
    // made: what an update cut there leaves.
    void presetErasedIdentity();

    // True between an answered attention byte and the last byte of its frame.
    bool inFrame() const { return phase_ != Phase::Idle; }
    // Power lost, then the unit is switched on again in update mode: its
    // memories stay as they are, everything else starts afresh as at
    // power-on (counters, transcript, a frame half received), with `faults`.
    void powerCycle(Faults faults = {});
    // The line stayed quiet in the middle of a frame for longer than the unit
    // waits: the partial frame is dropped. Whoever owns the clock calls this.
    void abandonFrame();
    // The data memory from position 0 up to dataExtent().
    std::vector<std::uint8_t> dataImage() const;

  private:
    enum class Phase { Idle, Frame };
    using DataBlock = std::array<std::uint8_t, 256>;

    Faults faults_;
    Memory target0_{};
    Memory target1_{};
    std::map<std::uint32_t, DataBlock> data_; // by block number
    std::uint32_t dataExtent_ = 0;
    std::vector<std::string> transcript_;
    int exchanges_ = 0;
    int handshakes_ = 0;
    bool silent_ = false;
    Phase phase_ = Phase::Idle;
    std::vector<std::uint8_t> frame_; // from the length byte on

    std::vector<std::uint8_t> handshake();
    std::vector<std::uint8_t> attention();
    std::vector<std::uint8_t> frameByte(std::uint8_t byte);
    // Runs the complete frame (unless rejected) and returns the reply body:
    // status byte and data. Appends the transcript line.
    // `done`: how many bytes of an erase or write take effect before the
    // power goes (all of them when no cut).
    std::vector<std::uint8_t> command(bool nak, std::size_t done);
    std::vector<std::uint8_t> reply(std::vector<std::uint8_t> body);
    void writeData(std::uint32_t position, const std::uint8_t* bytes, std::size_t done);
};

} // namespace kronex::devsim
