// Which kept record belongs to the unit on the port. A block cut in the
// middle of its erase or of its write still has every 1-bit of what it
// held or was being given ((read & kept) == kept); where the identity
// survived, its serial number and unit bytes must also be the record's.
#pragma once

#include "unit_records.h"

#include <optional>

namespace kronex {

inline constexpr std::size_t kTopBlockMark = 63; // the session sets it to 0xFE

enum class RecordFit { None, One, Several };

struct RecordLookup {
    RecordFit fit = RecordFit::None;
    std::optional<KeptRecord> found; // with RecordFit::One
};

// `top` is null where only the identity was read.
RecordLookup findRecord(const std::vector<KeptRecord>& records, const UnitBlock& identity,
                        const UnitBlock* top);

// Bytes 0-5 (serial number and unit bytes) all erased.
bool blankIdentity(const UnitBlock& identity);
bool blankBlock(const UnitBlock& block);

// The top block as the session writes it back: the unit's own with its mark.
UnitBlock markedTop(const UnitBlock& own);

} // namespace kronex
