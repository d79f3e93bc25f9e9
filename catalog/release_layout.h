// Where everything stands in a release table, found by its markers alone.
#pragma once

#include "release_table.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kronex {

// Markers between lists, segments and sections.
inline constexpr std::string_view kMarkerClose = "*";
inline constexpr std::string_view kMarkerMainImageEnd = "**";
inline constexpr std::string_view kMarkerDataEnd = "BMP";
inline constexpr std::string_view kMarkerReleaseEnd = "FIM";

inline constexpr std::int64_t kFirstModuleLine = 4;
inline constexpr std::size_t kHexLineLength = 512;
inline constexpr std::size_t kMaxPlainLength = 30;
inline constexpr int kMaxDataSections = 58; // the identity block's section directory
inline constexpr int kMainImageSegments = 6;

// A run of hexadecimal lines [first, close) closed by "*" at `close`.
struct Run {
    std::int64_t first = 0;
    std::int64_t close = 0;
    std::int64_t lines() const { return close - first; }
};

struct ReleaseLayout {
    std::int64_t moduleListClose = 0; // s
    std::int64_t mainImageEnd = 0;    // m, the "**"
    std::vector<Run> mainSegments;    // six
    std::int64_t firstMaker = 0;
    int makerCount = 0;
    std::int64_t dataStart = 0;
    std::vector<Run> dataSections;
    std::int64_t dataEnd = 0;         // the "BMP"
    std::vector<Run> target1Segments; // two
    std::int64_t target1TopLine = 0;
    std::int64_t releaseEnd = 0; // the "FIM"
    int hexLineCount = 0;

    int minimumDataSections() const { return 2 + (makerCount - 1) + 3; }
};

// One broken rule, named with the identifier where it shows.
struct LayoutProblem {
    std::int64_t id;
    std::string rule;
    std::string describe() const { return "entry " + std::to_string(id) + ": " + rule; }
};

bool isHexLine(std::string_view text);
bool isAddressText(std::string_view text);
bool isDecimalText(std::string_view text);

// Checks every layout rule a release must meet to be installed. Each walk
// stops at the table's end, so no table makes it loop without bound.
std::variant<ReleaseLayout, LayoutProblem> analyseRelease(const ReleaseTable& table);

} // namespace kronex
