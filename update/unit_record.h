// What the PC keeps of one unit while its update runs: the unit's own
// blocks as read before the first erase of either (the identity block and
// target 0's top block), with where and when, in a text a support person
// can read. A checksum guards it: a damaged record is never written back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kronex {

using UnitBlock = std::array<std::uint8_t, 128>;

struct UnitRecord {
    std::string serial;                  // "29" and bytes 0-2 of the kept identity
    int port = 0;                        // COMn the update ran on
    std::string written;                 // ISO 8601 UTC, when the blocks were first kept
    int release = 0;                     // the release being installed
    std::string stoppedAt = "top block"; // where the session stopped (or was when kept)
    std::string since;                   // ISO 8601 UTC, when it stopped there
    UnitBlock identity{};
    UnitBlock top{};
};

// "290A1BC2" from an identity block's bytes 0-2.
std::string serialOf(const UnitBlock& identity);

std::string recordText(const UnitRecord& record);
// nullopt when the text is not a whole record or its checksum fails.
std::optional<UnitRecord> parseRecord(const std::string& text);

} // namespace kronex
