// Reading a release from its text form: one entry per line, the identifier,
// a tab, the text (UTF-8).
#pragma once

#include "release_table.h"

#include <string>
#include <string_view>
#include <variant>

namespace kronex {

struct ReleaseFileError {
    int line; // 1-based line of the file
    std::string message;
};

// Parses the whole file. Blank lines are skipped and a trailing carriage
// return is dropped; every text must be UTF-8 that Windows-1252 can hold,
// since the unit shows single-byte characters.
std::variant<ReleaseTable, ReleaseFileError> parseReleaseFile(std::string text);

} // namespace kronex
