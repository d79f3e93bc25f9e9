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

// The precise account in the chosen language (English for the JSON): "data
// part section 19, DATA block 00E4+00, exchange 641 of 1877: refused with
// status 0x55".
std::string detailOf(const UnitReport& unit);

// A step's name (stepName(), as the JSON and the record files keep it) in
// the chosen language: "final run", "parte de dados seção 3". A name it
// does not know comes back as it is.
std::string stepText(const std::string& stepName);

// reasonText() and commandText() in the chosen language; English, they read
// as those do.
std::string reasonWords(const SessionStop& stop);
std::string commandWords(const SessionStop& stop);

} // namespace kronex::cli
