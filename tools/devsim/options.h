// Command line of kronex-devsim.
#pragma once

#include "device_model.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kronex::devsim {

struct Options {
    int com = 0;            // register the terminal as COMn; 0: do not
    bool printPath = false; // print the terminal's path once ready
    long baud = 0;          // pace the line; 0: answer at once
    Faults faults;
    std::optional<std::array<std::uint8_t, 3>> serial; // another unit than 290A1BC2
    bool erasedIdentity = false; // as an update cut at the identity block's erase leaves it
    // Target 0's top block as the unit with this serial number has it (units
    // of one kind can hold equal top blocks), and with the mark an update sets.
    std::optional<std::array<std::uint8_t, 3>> topOf;
    bool updatedBefore = false;
    std::string transcriptFile;
    std::string dumpDir;
    bool stdinControl = false; // end when standard input closes
    bool help = false;
};

struct ParsedOptions {
    std::optional<Options> options; // empty when the line is wrong
    std::string error;
};

ParsedOptions parseOptions(const std::vector<std::string>& args);

std::string helpText();

} // namespace kronex::devsim
