#include "model_driver.h"

#include "payload_coding.h"

namespace kronex::devsim::test {

namespace {

std::uint8_t high(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t low(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t withTarget(std::uint8_t code, int target) {
    return static_cast<std::uint8_t>(target == 1 ? code | 0x80 : code);
}

void appendCoded(Bytes& frame, const Bytes& plain) {
    for (const std::uint8_t b : plain)
        frame.push_back(codeByte(b));
}

} // namespace

Bytes feed(DeviceModel& unit, const Bytes& bytes) {
    Bytes out;
    for (const std::uint8_t b : bytes) {
        const Bytes answer = unit.receive(b);
        out.insert(out.end(), answer.begin(), answer.end());
    }
    return out;
}

Exchange exchangeFrame(DeviceModel& unit, const Bytes& frame) {
    Exchange e;
    e.ack = feed(unit, {kAttention});
    e.reply = feed(unit, frame);
    return e;
}

Bytes runFrame(int target) {
    return {0x02, withTarget(0x47, target)};
}

Bytes eraseFrame(int target, std::uint16_t address) {
    return {0x04, withTarget(0x45, target), high(address), low(address)};
}

Bytes readFrame(int target, std::uint16_t address) {
    return {0x04, withTarget(0x44, target), high(address), low(address)};
}

Bytes writeFrame(int target, std::uint16_t address, const Bytes& plain128) {
    Bytes f = {0x85, withTarget(0x57, target), 0x08, high(address), low(address)};
    appendCoded(f, plain128);
    return f;
}

Bytes dataFrame(std::uint16_t block, std::uint8_t offset, const Bytes& plain128) {
    Bytes f = {0x85, 0x46, high(block), low(block), offset};
    appendCoded(f, plain128);
    return f;
}

Bytes slice(const DeviceModel::Memory& m, std::size_t from, std::size_t count) {
    return Bytes(m.begin() + static_cast<std::ptrdiff_t>(from),
                 m.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes pattern(std::uint8_t seed) {
    Bytes p(128);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>(seed + i * 7);
    return p;
}

Bytes decodeReadReply(const Bytes& reply) {
    Bytes plain;
    for (std::size_t i = 2; i < reply.size(); ++i)
        plain.push_back(codeByte(reply[i]));
    return plain;
}

} // namespace kronex::devsim::test
