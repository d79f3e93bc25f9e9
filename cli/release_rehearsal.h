// What an update writes into the unit's program memory, read off the write
// exchanges of the session's plan (session_plan.h): each 128-byte block by
// target and address, and which of its bytes the session takes from the
// unit (its serial number, its own top-block bytes) rather than from the
// release. verify reads these blocks back.
#pragma once

#include "loaded_catalog.h"
#include "release_table.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kronex::cli {

struct WrittenBlock {
    int target = 0;
    std::uint16_t address = 0;
    std::array<std::uint8_t, 128> bytes{};
    std::array<bool, 128> unitOwn{}; // true: whatever the unit had stays
};

// In address order, target 0 first; a block written twice as it ends up.
std::vector<WrittenBlock> rehearseUpdate(const ReleaseTable& release, const LoadedCatalog& catalog);

} // namespace kronex::cli
