#include "expected_update.h"

#include <cstdio>
#include <string>

namespace kronex::test {

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
    return buf;
}

struct Builder {
    ExpectedUpdate e;

    devsim::DeviceModel::Memory& mem(int t) { return t == 1 ? e.target1 : e.target0; }

    // Erase 512 bytes, then write the 128-byte blocks given.
    void page(int t, unsigned address, const std::vector<std::uint8_t>& bytes) {
        const std::string target = " t" + std::to_string(t) + " ";
        e.commands.push_back("ERASE" + target + hex4(address));
        for (unsigned i = 0; i < 512; ++i)
            mem(t)[(address + i) & 0xFFFF] = 0xFF;
        for (std::size_t block = 0; block * 128 < bytes.size(); ++block) {
            const unsigned at = address + static_cast<unsigned>(block) * 128;
            e.commands.push_back("WRITE" + target + hex4(at));
            for (unsigned i = 0; i < 128; ++i)
                mem(t)[(at + i) & 0xFFFF] = bytes[block * 128 + i];
        }
    }

    // A segment: its lines two by two, a lone last line padded with 0xFF.
    void segment(int t, unsigned address, const std::vector<std::string>& lines) {
        for (std::size_t i = 0; i < lines.size(); i += 2) {
            auto bytes = bytesOf(lines[i]);
            auto second =
                i + 1 < lines.size() ? bytesOf(lines[i + 1]) : std::vector<std::uint8_t>(256, 0xFF);
            bytes.insert(bytes.end(), second.begin(), second.end());
            page(t, address, bytes);
            address += 0x200;
        }
    }
};

std::string entryOf(const ReleaseEntries& r, std::int64_t id) {
    const auto it = r.byId.find(id);
    return it == r.byId.end() ? std::string() : it->second;
}

// The identifier of the first "*" from `id` on.
std::int64_t closeFrom(const ReleaseEntries& r, std::int64_t id) {
    while (entryOf(r, id) != "*")
        ++id;
    return id;
}

// The runs of lines from `id` on, each closed by "*", until `stop`.
std::vector<std::vector<std::string>> runsFrom(const ReleaseEntries& r, std::int64_t& id,
                                               std::size_t count, const std::string& stop = "") {
    std::vector<std::vector<std::string>> runs;
    while (runs.size() < count && (stop.empty() || r.byId.at(id) != stop)) {
        runs.emplace_back();
        while (r.byId.at(id) != "*")
            runs.back().push_back(r.byId.at(id++));
        ++id;
    }
    return runs;
}

} // namespace

ExpectedUpdate expectedUpdate(const ReleaseEntries& r, const devsim::DeviceModel& fresh) {
    Builder b;
    b.e.target0 = fresh.program(0);
    b.e.target1 = fresh.program(1);
    b.e.identity.fill(0xFF);
    b.e.commands.push_back("READ t0 2000"); // the compatibility check

    // Found by the markers alone: the module list's "*", eight entries on
    // the main image, then "**", four address texts and the maker list.
    std::int64_t id = closeFrom(r, 4) + 8;
    const auto main = runsFrom(r, id, 6);
    const std::int64_t mainImageEnd = id;
    const unsigned erase1 =
        static_cast<unsigned>(std::stoul(r.byId.at(mainImageEnd + 3), nullptr, 16));
    const unsigned erase2 =
        static_cast<unsigned>(std::stoul(r.byId.at(mainImageEnd + 4), nullptr, 16));
    unsigned releaseNumber = 0;
    for (const char digit : entryOf(r, 3))
        releaseNumber = (releaseNumber * 10 + static_cast<unsigned>(digit - '0')) % 256;

    const unsigned addresses[6] = {0x4000, 0xB000, 0xD000, 0x2400, 0x4000, 0x4200};
    for (int k = 0; k < 3; ++k)
        b.segment(0, addresses[k], main[static_cast<std::size_t>(k)]);
    b.e.commands.push_back("RUN t0");
    for (int k = 3; k < 6; ++k)
        b.segment(0, addresses[k], main[static_cast<std::size_t>(k)]);

    for (const unsigned erase : {erase1, erase2}) {
        b.e.commands.push_back("ERASE t0 " + hex4(erase));
        for (unsigned i = 0; i < 512; ++i)
            b.e.target0[(erase + i) & 0xFFFF] = 0xFF;
    }

    id = closeFrom(r, mainImageEnd + 5) + 1;
    const auto sections = runsFrom(r, id, 1000, "BMP");
    unsigned block = 0;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        b.e.identity[11 + 2 * s] = static_cast<std::uint8_t>(block >> 8);
        b.e.identity[12 + 2 * s] = static_cast<std::uint8_t>(block & 0xFF);
        for (const auto& line : sections[s]) {
            b.e.commands.push_back("DATA " + hex4(block) + "+00");
            b.e.commands.push_back("DATA " + hex4(block) + "+80");
            const auto bytes = bytesOf(line);
            b.e.data.insert(b.e.data.end(), bytes.begin(), bytes.end());
            ++block;
        }
    }
    ++id; // "BMP"

    b.e.commands.push_back("READ t0 FF80");
    std::vector<std::uint8_t> top(fresh.program(0).begin() + 0xFF80, fresh.program(0).end());
    top[63] = 0xFE;
    b.page(0, 0xFF80, top);

    // The entry that opens the second section: its first line, or its "*".
    auto mirror = sections.at(1).empty() ? std::vector<std::uint8_t>() : bytesOf(sections[1][0]);
    mirror.resize(512, 0x00);
    b.page(0, 0x2200, mirror);

    b.e.commands.push_back("READ t0 2000");
    std::copy(fresh.program(0).begin() + 0x2000, fresh.program(0).begin() + 0x2006,
              b.e.identity.begin());
    b.e.identity[6] = static_cast<std::uint8_t>(releaseNumber);
    b.e.identity[7] = static_cast<std::uint8_t>(erase2 >> 8);
    b.e.identity[8] = static_cast<std::uint8_t>(erase2 & 0xFF);
    b.e.identity[9] = static_cast<std::uint8_t>(erase1 >> 8);
    b.e.identity[10] = static_cast<std::uint8_t>(erase1 & 0xFF);
    b.page(0, 0x2000, std::vector<std::uint8_t>(b.e.identity.begin(), b.e.identity.end()));
    ++id; // the "*" after "BMP"

    const auto target1 = runsFrom(r, id, 2);
    b.segment(1, 0x1200, target1[0]);
    b.e.commands.push_back("RUN t1");
    b.segment(1, 0x1A00, target1[1]);
    std::vector<std::uint8_t> top1(128, 0xFF);
    const auto line = bytesOf(r.byId.at(id).substr(0, 104));
    std::copy(line.begin(), line.end(), top1.begin() + 76);
    top1[63] = 0xFE;
    b.page(1, 0xFF80, top1);
    b.e.commands.push_back("RUN t1");
    b.e.commands.push_back("RUN t0");
    return b.e;
}

const ExpectedUpdate& expectedSampleUpdate() {
    static const ExpectedUpdate e = expectedUpdate(ReleaseEntries::sample(), devsim::DeviceModel());
    return e;
}

int exchangeOf(const std::string& command, int n) {
    const auto& c = expectedSampleUpdate().commands;
    for (std::size_t i = 0; i < c.size(); ++i)
        if (c[i] == command && --n == 0)
            return static_cast<int>(i) + 1;
    return 0;
}

std::vector<std::string> commandsOf(const devsim::DeviceModel& unit) {
    std::vector<std::string> out;
    for (const auto& line : unit.transcript())
        if (line.rfind("HANDSHAKE", 0) != 0)
            out.push_back(line);
    return out;
}

} // namespace kronex::test
