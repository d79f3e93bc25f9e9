#include "read_back.h"

#include "advice.h"
#include "device_commands.h"
#include "session_stop.h"

#include <cstdio>

namespace kronex::cli {

std::string blockName(int target, std::uint16_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "t%d %04X", target, address);
    return text;
}

ReadBack readBack(LinkExchange& link, const std::vector<WrittenBlock>& blocks) {
    ReadBack result;
    result.blocks = static_cast<unsigned>(blocks.size());
    for (const auto& b : blocks) {
        std::array<std::uint8_t, kBlockBytes> data{};
        const bool answered = CMD_LE_BLOCO(link, b.target, b.address, data.data());
        if (!answered || link.reply[0] != kAck) {
            BlockFault& f = result.faults.emplace_back();
            f.target = b.target;
            f.address = b.address;
            f.unread = true;
            SessionStop stop;
            recordLastExchange(link, stop);
            f.why = reasonText(stop);
            f.whyText = reasonWords(stop);
            if (!answered)
                break; // no use asking a unit that does not answer
            continue;
        }
        ++result.read;
        BlockFault f{b.target, b.address, false, -1, 0, {}, {}};
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            if (!b.unitOwn[i] && data[i] != b.bytes[i]) {
                if (f.firstByte < 0)
                    f.firstByte = static_cast<int>(i);
                ++f.bytes;
            }
        if (f.bytes > 0)
            result.faults.push_back(f);
    }
    return result;
}

} // namespace kronex::cli
