// verify: every block an update writes into program memory, read back from
// the unit and compared with what the release puts there. Reads only.
#pragma once

#include "link_exchange.h"
#include "release_rehearsal.h"

#include <string>
#include <vector>

namespace kronex::cli {

struct BlockFault {
    int target = 0;
    std::uint16_t address = 0;
    bool unread = false; // the unit refused the read, or did not answer it
    int firstByte = -1;  // the first byte that differs
    int bytes = 0;       // how many differ
    std::string why;     // unread: how the read ended (English, for the JSON)
    std::string whyText; // the same in the chosen language
};

struct ReadBack {
    unsigned blocks = 0; // blocks the release writes
    unsigned read = 0;   // blocks read back
    std::vector<BlockFault> faults;
    bool allMatch() const { return faults.empty() && read == blocks; }
};

// Stops at the first read that gets no answer: the unit is gone.
ReadBack readBack(LinkExchange& link, const std::vector<WrittenBlock>& blocks);

// "READ t0 4200"
std::string blockName(int target, std::uint16_t address);

} // namespace kronex::cli
