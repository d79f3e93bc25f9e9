// What a unit's outcome means at the bench: what happened, in the words a
// technician would use, and what to do next. The precise account (command,
// exchange, status byte, system error) is kept beside it, not replaced.
#pragma once

#include "unit_run.h"

#include <string>

namespace kronex::cli {

struct Advice {
    std::string happened; // "the unit refused to write a block"
    std::string next;     // "keep the unit switched on ... and run the update again"
};

// Empty texts for a unit that was updated, answered or skipped.
Advice adviceFor(const UnitReport& unit);

// The precise account, English: "data part section 19, DATA block 00E4+00,
// exchange 641 of 1877: refused with status 0x55".
std::string detailOf(const UnitReport& unit);

} // namespace kronex::cli
