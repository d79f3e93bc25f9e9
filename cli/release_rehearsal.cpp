#include "release_rehearsal.h"

#include "session_plan.h"

#include <map>

namespace kronex::cli {

namespace {

using Blocks = std::map<std::pair<int, std::uint16_t>, std::array<std::uint8_t, 128>>;

// The program blocks the plan's writes leave, the last write of each as it ends up.
Blocks writtenBy(const SessionPlan& plan) {
    Blocks written;
    for (const auto& e : plan.session) {
        if (!e.frame.programWrite())
            continue;
        auto& block = written[{e.frame.target, e.frame.address}];
        framePayload(e.bytesOut.data() + 1, e.bytesOut.size() - 1, block.data());
    }
    return written;
}

} // namespace

std::vector<WrittenBlock> rehearseUpdate(const ReleaseTable& release,
                                         const LoadedCatalog& catalog) {
    // What the unit reads back into the session shows as the bytes that differ
    // between a unit full of 0x00 and one full of 0x5A (not 0xFF: the session
    // takes a blank unit for one that lost its own blocks, and stops).
    const auto zeros = writtenBy(planSession(release, catalog, 0x00));
    const auto ones = writtenBy(planSession(release, catalog, 0x5A));
    std::vector<WrittenBlock> blocks;
    for (const auto& [where, bytes] : zeros) {
        WrittenBlock& b = blocks.emplace_back();
        b.target = where.first;
        b.address = where.second;
        b.bytes = bytes;
        const auto other = ones.find(where);
        for (std::size_t i = 0; i < kBlockBytes; ++i)
            b.unitOwn[i] = other == ones.end() || other->second[i] != bytes[i];
    }
    return blocks;
}

} // namespace kronex::cli
