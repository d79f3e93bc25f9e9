// Which kept record belongs to the unit on the port.
//
// A unit's record may only ever go back into that unit. An identity that
// reads intact names its unit: it takes only a record whose serial number
// and unit bytes (bytes 0-5) are its own. An identity that reads blank, or
// shaped like a cut of its erase or write, no longer names its unit for
// sure: it takes a record only when exactly one record fits both its blocks
// as a cut leaves them (every 1-bit of the kept block still set,
// (read & kept) == kept) and no live session holds that record.
#pragma once

#include "identity_layout.h"
#include "unit_records.h"

#include <functional>
#include <optional>

namespace kronex {

// Bytes 0-5 (serial number and unit bytes) all erased.
bool blankIdentity(const UnitBlock& identity);
bool blankBlock(const UnitBlock& block);

// Whether an identity read may be a cut of the block's erase or write, so
// that the top block must be read before anything is decided: blank, or its
// first byte's upper bits set (an erase stopped at or after byte 0), or
// nothing past the serial number and unit bytes (a write stopped in them).
bool identityMayBeCut(const UnitBlock& identity);

// Whether the identity counts as cut, given the top block: blank always;
// otherwise shaped as above on a unit whose top block carries the session's
// mark, since the identity is erased only after the top block is written.
bool identityCut(const UnitBlock& identity, const UnitBlock& top);

// The top block as the session writes it back: the unit's own with its mark.
UnitBlock markedTop(const UnitBlock& own);

// Whether `record` may go into the unit whose blocks read so. `top` is null
// where only the identity of an intact unit was read yet.
bool recordFits(const UnitRecord& record, const UnitBlock& identity, const UnitBlock* top,
                bool cut);

enum class RecordChoice {
    OwnBlocks, // no record is this unit's: its blocks as read are its own
    Record,    // `record` is this unit's
    NoneFits,  // a cut identity that no record fits
    Several,   // more than one record fits
    Held,      // the record that fits is held by a live session
};

struct RecordLookup {
    RecordChoice choice = RecordChoice::OwnBlocks;
    std::optional<KeptRecord> record; // with RecordChoice::Record or Held
};

// Whether a live session holds `record`.
using HeldTest = std::function<bool(const KeptRecord& record)>;

// The record for the unit whose identity reads `identity` (and its top block
// `top`, null where it was not read: only for an identity that cannot be
// cut). Copies of one record under other names count as one.
RecordLookup findRecord(const std::vector<KeptRecord>& records, const UnitBlock& identity,
                        const UnitBlock* top, const HeldTest& held = {});

} // namespace kronex
