#include "options.h"

#include <charconv>
#include <functional>
#include <map>

namespace kronex::devsim {

namespace {

std::optional<long> number(const std::string& text, long least, long most) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || value < least || value > most)
        return std::nullopt;
    return value;
}

// "29" and six hexadecimal digits.
std::optional<std::array<std::uint8_t, 3>> serialNumber(const std::string& text) {
    if (text.size() != 8 || text.compare(0, 2, "29") != 0)
        return std::nullopt;
    std::array<std::uint8_t, 3> bytes{};
    for (std::size_t i = 0; i < 3; ++i) {
        unsigned v = 0;
        const char* from = text.data() + 2 + 2 * i;
        const auto [ptr, ec] = std::from_chars(from, from + 2, v, 16);
        if (ec != std::errc{} || ptr != from + 2)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(v);
    }
    return bytes;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    Options o;
    // Options that take a whole number: where it goes and its range.
    const std::map<std::string, std::tuple<std::function<void(long)>, long, long>> numeric = {
        {"--com", {[&](long v) { o.com = static_cast<int>(v); }, 1, 256}},
        {"--baud", {[&](long v) { o.baud = v; }, 1, 100000000}},
        {"--silent-from",
         {[&](long v) { o.faults.silentFromExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--nak-at", {[&](long v) { o.faults.nakAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--short-reply-at",
         {[&](long v) { o.faults.shortReplyAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--zero-length-at",
         {[&](long v) { o.faults.zeroLengthAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--cut-reply-at",
         {[&](long v) { o.faults.cutReplyAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--noise", {[&](long v) { o.faults.noiseBeforeAck = static_cast<int>(v); }, 0, 4096}},
        {"--noise-at",
         {[&](long v) { o.faults.noiseAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--corrupt-at",
         {[&](long v) { o.faults.corruptAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--deaf-at",
         {[&](long v) { o.faults.deafAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--power-cut-at",
         {[&](long v) { o.faults.powerCutAtExchange = static_cast<int>(v); }, 1, 1L << 30}},
        {"--power-cut-after",
         {[&](long v) { o.faults.powerCutAfterBytes = static_cast<int>(v); }, 0, 512}},
        {"--handshake-from",
         {[&](long v) { o.faults.handshakeFrom = static_cast<int>(v); }, 1, 1L << 30}},
    };
    std::string serial, topOf;
    const std::map<std::string, std::string*> textual = {
        {"--transcript", &o.transcriptFile},
        {"--dump", &o.dumpDir},
        {"--serial", &serial},
        {"--top-of", &topOf},
    };
    const std::map<std::string, bool*> flags = {
        {"--print-path", &o.printPath},
        {"--incompatible", &o.faults.incompatible},
        {"--erased-identity", &o.erasedIdentity},
        {"--updated-before", &o.updatedBefore},
        {"--stdin-control", &o.stdinControl},
        {"--help", &o.help},
        {"-h", &o.help},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (const auto f = flags.find(name); f != flags.end()) {
            *f->second = true;
            continue;
        }
        const auto n = numeric.find(name);
        const auto t = textual.find(name);
        if (n == numeric.end() && t == textual.end())
            return {std::nullopt, "unknown option " + name};
        if (i + 1 == args.size())
            return {std::nullopt, name + " needs a value"};
        const std::string& value = args[++i];
        if (t != textual.end()) {
            if (value.empty())
                return {std::nullopt, name + " needs a value"};
            *t->second = value;
            continue;
        }
        const auto& [store, least, most] = n->second;
        const auto v = number(value, least, most);
        if (!v)
            return {std::nullopt, name + " takes a whole number from " + std::to_string(least) +
                                      " to " + std::to_string(most) + ", not \"" + value + "\""};
        store(*v);
    }
    if (!serial.empty() && !(o.serial = serialNumber(serial)))
        return {std::nullopt,
                "--serial takes \"29\" and six hexadecimal digits, not \"" + serial + "\""};
    if (!topOf.empty() && !(o.topOf = serialNumber(topOf)))
        return {std::nullopt,
                "--top-of takes \"29\" and six hexadecimal digits, not \"" + topOf + "\""};
    return {o, ""};
}

std::string helpText() {
    return R"(Usage: kronex-devsim [options]

Plays a KRONEX unit in update mode on a pseudo-terminal, for running and
testing kronex-atu without hardware. Runs until SIGTERM or SIGINT.

Where the unit is:
  --com N              register the terminal as COMN, so the updater finds it
                       (link in ${XDG_STATE_HOME:-$HOME/.local/state}/kronex/dosdevices)
  --print-path         print the terminal's path on one line once ready
  --baud R             pace both directions at R baud (10 bits a byte);
                       without it the unit answers at once

Faults (exchanges count attention bytes 0x87 from 1, handshakes count 0xBC):
  --silent-from K      answer nothing at all from exchange K on
  --nak-at K           reject the command of exchange K (status 0x55)
  --short-reply-at K   leave out the last byte of the reply of exchange K
  --zero-length-at K   answer exchange K with the single byte 0x00
  --cut-reply-at K     send only the first half of the reply of exchange K
  --noise N            send N noise bytes before every 0x78
  --noise-at K         send eight noise bytes before the 0x78 of exchange K
  --deaf-at K          leave the attention byte of exchange K unanswered (the
                       updater waits 5 s for it), logged "ATTENTION unanswered"
  --corrupt-at K       acknowledge the write of exchange K but keep its first
                       byte inverted, logged "[corrupt]"
  --power-cut-at K     lose power while the command of exchange K runs: no
                       reply, nothing answered after; of its erase or write
                       the first B bytes are done (--power-cut-after B,
                       default 0, at most 512) and the next one half done
  --handshake-from N   answer "C" only from handshake N on
  --incompatible       answer "C" but never the attention byte

The unit:
  --serial 29XXXXXX    another unit than 290A1BC2: its serial number and its
                       own top block in target 0
  --erased-identity    the identity block erased and never written again, as
                       an update cut between its erase and its write leaves it
  --top-of 29XXXXXX    target 0's top block as the unit with that serial
                       number has it (units of one kind may hold equal ones)
  --updated-before     the top block carries the mark an update sets

Records:
  --transcript FILE    write one line per command to FILE as it happens
  --dump DIR           at exit write target0.bin, target1.bin (65536 bytes
                       each) and data.bin (the written data memory) to DIR
  --stdin-control      also end when standard input reaches end of file
  -h, --help           show this text
)";
}

} // namespace kronex::devsim
