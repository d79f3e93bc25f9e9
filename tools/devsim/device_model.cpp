#include "device_model.h"

#include "frame_codec.h"
#include "payload_coding.h"
#include "preset_memory.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kronex::devsim {

namespace {

constexpr std::size_t kPayload = kBlockBytes;
constexpr std::size_t kEraseSize = 512;

// Sent ahead of 0x78 when noise is injected: bytes a careless reader could take
// for an answer ("C", a zero length, a status, the attention byte itself).
constexpr std::uint8_t kNoise[] = {0x43, 0x00, 0xAA, 0x02, 0x55, 0xFF, 0x87, 0xBC};

std::string hex(unsigned value, int digits) {
    char text[9];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string onTarget(const char* name, int target, std::uint16_t address) {
    return std::string(name) + " t" + std::to_string(target) + " " + hex(address, 4);
}

} // namespace

DeviceModel::DeviceModel(Faults faults) : faults_(faults) {
    target0_.fill(0xFF);
    target1_.fill(0xFF);
    const Block128 identity = presetIdentityBlock();
    std::copy(identity.begin(), identity.end(), target0_.begin() + kIdentityAddress);
    for (int t = 0; t < 2; ++t) {
        const Block128 top = presetTopBlock(t);
        std::copy(top.begin(), top.end(), program(t).begin() + kTopBlockAddress);
    }
}

void DeviceModel::presetSerial(const std::array<std::uint8_t, 3>& serial) {
    std::copy(serial.begin(), serial.end(), target0_.begin() + kIdentityAddress);
    const Block128 top = presetTopBlock(0, serial);
    std::copy(top.begin(), top.end(), target0_.begin() + kTopBlockAddress);
}

void DeviceModel::presetTop(const std::optional<std::array<std::uint8_t, 3>>& like, bool marked) {
    if (like) {
        const Block128 top = presetTopBlock(0, *like);
        std::copy(top.begin(), top.end(), target0_.begin() + kTopBlockAddress);
    }
    if (marked)
        target0_[kTopBlockAddress + kTopBlockMark] = kTopBlockMarkValue;
}

void DeviceModel::presetErasedIdentity() {
    std::fill_n(target0_.begin() + kIdentityAddress, kEraseSize, 0xFF);
}

std::vector<std::uint8_t> DeviceModel::receive(std::uint8_t byte) {
    if (phase_ == Phase::Frame)
        return frameByte(byte);
    if (byte == kHandshake)
        return handshake();
    if (byte == kAttention)
        return attention();
    return {};
}

std::uint8_t DeviceModel::dataByte(std::uint32_t position) const {
    const auto it = data_.find(position >> 8);
    return it == data_.end() ? 0xFF : it->second[position & 0xFF];
}

void DeviceModel::powerCycle(Faults faults) {
    faults_ = faults;
    transcript_.clear();
    exchanges_ = 0;
    handshakes_ = 0;
    silent_ = false;
    abandonFrame();
}

void DeviceModel::abandonFrame() {
    phase_ = Phase::Idle;
    frame_.clear();
}

std::vector<std::uint8_t> DeviceModel::dataImage() const {
    std::vector<std::uint8_t> image(dataExtent_, 0xFF);
    for (const auto& [block, bytes] : data_) {
        const std::size_t start = std::size_t{block} * 256;
        const std::size_t count = std::min<std::size_t>(bytes.size(), image.size() - start);
        std::copy_n(bytes.begin(), count, image.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return image;
}

std::vector<std::uint8_t> DeviceModel::handshake() {
    ++handshakes_;
    if (silent_)
        return {};
    if (handshakes_ < faults_.handshakeFrom) {
        transcript_.push_back("HANDSHAKE unanswered");
        return {};
    }
    transcript_.push_back("HANDSHAKE");
    return {kHandshakeAnswer};
}

std::vector<std::uint8_t> DeviceModel::attention() {
    ++exchanges_;
    if (faults_.silentFromExchange > 0 && exchanges_ >= faults_.silentFromExchange)
        silent_ = true;
    // An incompatible unit knows no framed exchange: what follows is ignored.
    if (silent_ || faults_.incompatible)
        return {};
    // Logged, so that whoever drives the unit knows the updater now waits.
    if (exchanges_ == faults_.deafAtExchange) {
        transcript_.push_back("ATTENTION unanswered");
        return {};
    }
    phase_ = Phase::Frame;
    frame_.clear();
    std::vector<std::uint8_t> out;
    const int noise = exchanges_ == faults_.noiseAtExchange ? static_cast<int>(std::size(kNoise))
                                                            : faults_.noiseBeforeAck;
    for (int i = 0; i < noise; ++i)
        out.push_back(kNoise[static_cast<std::size_t>(i) % std::size(kNoise)]);
    out.push_back(static_cast<std::uint8_t>(kAttention ^ 0xFF));
    return out;
}

std::vector<std::uint8_t> DeviceModel::frameByte(std::uint8_t byte) {
    frame_.push_back(byte);
    // A length of 0 or 1 leaves no room for a command: the frame ends at once.
    const std::size_t length = std::max<std::size_t>(frame_[0], 1);
    if (frame_.size() < length)
        return {};
    phase_ = Phase::Idle;
    const int k = exchanges_;
    const bool cut = k == faults_.powerCutAtExchange;
    const auto done =
        cut ? static_cast<std::size_t>(std::max(faults_.powerCutAfterBytes, 0)) : kEraseSize;
    std::vector<std::uint8_t> out = reply(command(k == faults_.nakAtExchange, done));
    frame_.clear();
    if (cut) {
        silent_ = true;
        transcript_.back() +=
            " [power cut after " + std::to_string(faults_.powerCutAfterBytes) + " bytes]";
        return {};
    }
    // Line faults: the command has taken effect, only its reply is damaged.
    if (k == faults_.zeroLengthAtExchange) {
        out = {0x00};
        transcript_.back() += " [zero length]";
    } else if (k == faults_.cutReplyAtExchange) {
        out.resize(out.size() / 2);
        transcript_.back() += " [cut]";
    } else if (k == faults_.shortReplyAtExchange) {
        out.pop_back();
        transcript_.back() += " [short]";
    }
    return out;
}

std::vector<std::uint8_t> DeviceModel::command(bool nak, std::size_t done) {
    const std::size_t n = frame_.size();
    const std::uint8_t code = n >= 2 ? frame_[1] : 0;
    auto rejected = [&] {
        transcript_.push_back("REJECTED " + hex(code, 2) + " length " + std::to_string(n));
        return std::vector<std::uint8_t>{kNak};
    };
    if (!wholeFrame(frame_.data(), n))
        return rejected();
    const FrameFields f = *decodeFrame(frame_.data(), n);
    std::array<std::uint8_t, kPayload> payload{}; // a write's bytes as they are stored
    framePayload(frame_.data(), n, payload.data());

    std::vector<std::uint8_t> body{nak ? kNak : kAck};
    std::string line;
    if (f.dataWrite()) {
        line = "DATA " + hex(f.address, 4) + "+" + hex(f.half, 2);
        if (!nak)
            writeData(std::uint32_t{f.address} * 256 + f.half, payload.data(), done);
    } else if (f.command == kCmdRun) {
        // A run of target 0 restarts the unit into update mode; the frame state
        // has already been dropped, so the next handshake is answered as at power-on.
        line = "RUN t" + std::to_string(f.target);
    } else if (f.command == kCmdErase) {
        line = onTarget("ERASE", f.target, f.address);
        for (std::size_t i = 0; !nak && i < std::min(done + 1, kEraseSize); ++i) {
            auto& cell = program(f.target)[static_cast<std::uint16_t>(f.address + i)];
            cell = i < done ? 0xFF : cutErase(cell);
        }
    } else if (f.command == kCmdRead) {
        line = onTarget("READ", f.target, f.address);
        for (std::size_t i = 0; i < kPayload; ++i)
            body.push_back(codeByte(program(f.target)[static_cast<std::uint16_t>(f.address + i)]));
    } else {
        const std::uint16_t to = f.address;
        line = onTarget("WRITE", f.target, to);
        // Programming only clears bits: over bytes not erased it leaves old & new.
        for (std::size_t i = 0; !nak && i < std::min(done + 1, kPayload); ++i) {
            auto& cell = program(f.target)[static_cast<std::uint16_t>(to + i)];
            const std::uint8_t wanted = payload[i];
            cell = i < done ? static_cast<std::uint8_t>(cell & wanted) : cutWrite(cell, wanted);
        }
        // A cell that did not take its value: nothing on the line shows it.
        if (!nak && exchanges_ == faults_.corruptAtExchange) {
            program(f.target)[to] = static_cast<std::uint8_t>(~program(f.target)[to]);
            line += " [corrupt]";
        }
    }
    transcript_.push_back(nak ? line + " [nak]" : line);
    return body;
}

std::vector<std::uint8_t> DeviceModel::reply(std::vector<std::uint8_t> body) {
    body.insert(body.begin(), static_cast<std::uint8_t>(body.size() + 1));
    return body;
}

// The data memory takes whole bytes: a cut leaves the first `done` written.
void DeviceModel::writeData(std::uint32_t position, const std::uint8_t* bytes, std::size_t done) {
    for (std::size_t i = 0; i < std::min(done, kPayload); ++i) {
        const std::uint32_t at = position + static_cast<std::uint32_t>(i);
        auto [it, fresh] = data_.try_emplace(at >> 8);
        if (fresh)
            it->second.fill(0xFF);
        it->second[at & 0xFF] = bytes[i];
    }
    if (done > 0)
        dataExtent_ = std::max<std::uint32_t>(
            dataExtent_, position + static_cast<std::uint32_t>(std::min(done, kPayload)));
}

} // namespace kronex::devsim
