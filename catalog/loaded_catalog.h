// The release as the window shows it and the update session uses it.
#pragma once

#include "release_layout.h"
#include "release_table.h"

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kronex {

// Main-image segments always go to these target-0 addresses; the address
// texts after the module list only repeat them.
inline constexpr std::array<std::uint16_t, 6> kMainSegmentAddresses = {0x4000, 0xB000, 0xD000,
                                                                       0x2400, 0x4000, 0x4200};

struct LoadedCatalog {
    // What the window shows.
    std::string releaseDate;    // entry 1
    std::string releaseCaption; // entry 2
    std::vector<std::string> moduleLines;
    // What the update session needs.
    std::uint8_t releaseNumber = 0; // entry 3 modulo 256
    std::array<std::uint16_t, 6> segmentAddresses = kMainSegmentAddresses;
    std::int64_t cursor = 0; // first main-image line; the update session moves it as it reads
    std::uint32_t eraseAddress1 = 0;
    std::uint32_t eraseAddress2 = 0;
    std::vector<std::string> makers;
    std::int64_t dataStart = 0;
    int progressMax = 0; // entries longer than 30 characters before "FIM"
    ReleaseLayout layout;
};

// Reads everything the window and the session need from the release; a
// release that breaks a layout rule gives the problem instead.
std::variant<LoadedCatalog, LayoutProblem> loadCatalog(const ReleaseTable& table);

} // namespace kronex
