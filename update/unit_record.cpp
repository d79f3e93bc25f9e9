#include "unit_record.h"

#include <cstdio>
#include <map>
#include <sstream>

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
    char text[9];
    std::snprintf(text, sizeof text, "29%02X%02X%02X", identity[0], identity[1], identity[2]);
    return text;
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

std::optional<UnitRecord> parseRecord(const std::string& text) {
    const std::string mark = "checksum: ";
    const auto at = text.rfind(mark);
    if (at == std::string::npos ||
        text.compare(0, std::char_traits<char>::length(kHeading), kHeading) != 0)
        return std::nullopt;
    const std::string body = text.substr(0, at);
    std::string sum = text.substr(at + mark.size());
    while (!sum.empty() && (sum.back() == '\n' || sum.back() == '\r'))
        sum.pop_back();
    if (sum != checksumOf(body))
        return std::nullopt;

    std::map<std::string, std::string> fields;
    std::istringstream in(body);
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            return std::nullopt;
        fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    UnitRecord r;
    try {
        r.serial = fields.at("serial");
        const std::string port = fields.at("port");
        r.port = port.rfind("COM", 0) == 0 ? std::stoi(port.substr(3)) : 0;
        r.written = fields.at("written");
        r.release = std::stoi(fields.at("release"));
        r.stoppedAt = fields.at("stopped_at");
        r.since = fields.at("since");
        if (!blockOf(fields.at("identity"), r.identity) || !blockOf(fields.at("top"), r.top))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return r;
}

} // namespace kronex
