#include "unit_record.h"

#include "identity_layout.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string_view>
#include <vector>

namespace kronex {

namespace {

constexpr const char* kHeading = "KRONEX unit record 1";

// CRC-32 (IEEE), enough to tell a damaged file from a whole one.
std::uint32_t crc32(const std::string& text) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char c : text) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string hexOf(const UnitBlock& block) {
    std::string text;
    for (const auto b : block) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

bool blockOf(const std::string& hex, UnitBlock& block) {
    if (hex.size() != 2 * block.size())
        return false;
    for (std::size_t i = 0; i < block.size(); ++i) {
        unsigned v = 0;
        for (const char c : hex.substr(2 * i, 2)) {
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
        }
        block[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

std::string checksumOf(const std::string& body) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", crc32(body));
    return text;
}

} // namespace

std::string serialOf(const UnitBlock& identity) {
    return serialText(identity.data());
}

std::string recordText(const UnitRecord& r) {
    std::ostringstream out;
    out << kHeading << "\n"
        << "serial: " << r.serial << "\n"
        << "port: COM" << r.port << "\n"
        << "written: " << r.written << "\n"
        << "release: " << r.release << "\n"
        << "stopped_at: " << r.stoppedAt << "\n"
        << "since: " << r.since << "\n"
        << "identity: " << hexOf(r.identity) << "\n"
        << "top: " << hexOf(r.top) << "\n";
    const std::string body = out.str();
    return body + "checksum: " + checksumOf(body) + "\n";
}

std::string recordChecksum(const std::string& body) {
    return checksumOf(body);
}

const char* recordFaultText(RecordFault fault) {
    switch (fault) {
    case RecordFault::None:
        return "a whole record";
    case RecordFault::Unreadable:
        return "the file cannot be read";
    case RecordFault::NotAFile:
        return "not a regular file (a folder, device, pipe or symbolic link)";
    case RecordFault::TooLarge:
        return "larger than a record can be (4 KiB)";
    case RecordFault::Heading:
        return "the first line is not \"KRONEX unit record 1\"";
    case RecordFault::Lines:
        return "its lines are not the record's keys, each once and in order";
    case RecordFault::Checksum:
        return "the checksum does not match the text (cut short or changed)";
    case RecordFault::Serial:
        return "the serial number is not the one in the identity block";
    case RecordFault::Port:
        return "the port is not COM1 to COM256";
    case RecordFault::Written:
        return "the time written is not a UTC time as the program writes it";
    case RecordFault::Release:
        return "the release is not a number from 0 to 255";
    case RecordFault::StoppedAt:
        return "where it stopped is empty, too long or not plain text";
    case RecordFault::Since:
        return "the time it stopped is not a UTC time as the program writes it";
    case RecordFault::Identity:
        return "the identity block is not 128 bytes in hex";
    case RecordFault::Top:
        return "the top block is not 128 bytes in hex";
    }
    return "not a record";
}

namespace {

bool digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal from `low` to `high`, without sign or leading zero.
std::optional<int> decimal(std::string_view text, int low, int high) {
    if (!digits(text) || text.size() > 3 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    int n = 0;
    for (const char c : text)
        n = n * 10 + (c - '0');
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

// "2026-05-04T10:11:12Z", as utcNow() writes it.
bool utcTime(std::string_view t) {
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[19] != 'Z')
        return false;
    const auto field = [&](std::size_t at, std::size_t n, int low, int high) {
        const std::string_view part = t.substr(at, n);
        if (!digits(part))
            return false;
        int v = 0;
        for (const char c : part)
            v = v * 10 + (c - '0');
        return v >= low && v <= high;
    };
    return field(0, 4, 0, 9999) && field(5, 2, 1, 12) && field(8, 2, 1, 31) &&
           field(11, 2, 0, 23) && field(14, 2, 0, 59) && field(17, 2, 0, 60);
}

bool plainText(std::string_view text) {
    return !text.empty() && text.size() <= 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::optional<UnitRecord> refuse(RecordFault* fault, RecordFault why) {
    if (fault)
        *fault = why;
    return std::nullopt;
}

} // namespace

std::optional<UnitRecord> parseRecord(const std::string& text, RecordFault* fault) {
    if (fault)
        *fault = RecordFault::None;
    if (text.size() > kRecordMaxBytes)
        return refuse(fault, RecordFault::TooLarge);
    // The lines, each without its end: LF as written, or CR LF from an
    // editor on Windows. Every line ends, the checksum's too.
    std::vector<std::string_view> lines;
    const std::string_view all(text);
    for (std::size_t at = 0; at < all.size();) {
        const auto end = all.find('\n', at);
        if (end == std::string_view::npos)
            return refuse(fault, lines.empty() ? RecordFault::Heading : RecordFault::Lines);
        std::string_view line = all.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    if (lines.empty() || lines[0] != kHeading)
        return refuse(fault, RecordFault::Heading);
    // Each key once, in the order the record is written.
    std::vector<std::string_view> values;
    const auto take = [&](std::size_t i, std::string_view key) {
        if (i >= lines.size())
            return false;
        const std::string_view line = lines[i];
        if (line.size() < key.size() + 2 || line.substr(0, key.size()) != key ||
            line.substr(key.size(), 2) != ": ")
            return false;
        values.push_back(line.substr(key.size() + 2));
        return true;
    };
    constexpr std::string_view kOrder[] = {"serial", "port",     "written", "release", "stopped_at",
                                           "since",  "identity", "top",     "checksum"};
    if (lines.size() != 1 + std::size(kOrder))
        return refuse(fault, RecordFault::Lines);
    for (std::size_t i = 0; i < std::size(kOrder); ++i)
        if (!take(i + 1, kOrder[i]))
            return refuse(fault, RecordFault::Lines);

    std::string body = std::string(kHeading) + "\n";
    for (std::size_t i = 0; i + 1 < std::size(kOrder); ++i)
        body.append(lines[i + 1]).append("\n");
    if (values[8] != checksumOf(body))
        return refuse(fault, RecordFault::Checksum);

    UnitRecord r;
    if (!blockOf(std::string(values[6]), r.identity))
        return refuse(fault, RecordFault::Identity);
    if (!blockOf(std::string(values[7]), r.top))
        return refuse(fault, RecordFault::Top);
    r.serial = values[0];
    if (r.serial != serialOf(r.identity))
        return refuse(fault, RecordFault::Serial);
    const auto port =
        values[1].substr(0, 3) == "COM" ? decimal(values[1].substr(3), 1, 256) : std::nullopt;
    if (!port)
        return refuse(fault, RecordFault::Port);
    r.port = *port;
    if (!utcTime(values[2]))
        return refuse(fault, RecordFault::Written);
    r.written = values[2];
    const auto release = decimal(values[3], 0, 255);
    if (!release)
        return refuse(fault, RecordFault::Release);
    r.release = *release;
    if (!plainText(values[4]))
        return refuse(fault, RecordFault::StoppedAt);
    r.stoppedAt = values[4];
    if (!utcTime(values[5]))
        return refuse(fault, RecordFault::Since);
    r.since = values[5];
    return r;
}

} // namespace kronex
