// The sample release (catalog/data/release.txt) as the tests' own fixture,
// whatever release the program embeds, and any release as an editable map
// of entries, for tests that break one rule at a time.
#pragma once

#include "release_layout.h"
#include "release_table.h"

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace kronex::test {

std::string readFile(const std::string& path);

// The sample release, read once.
const ReleaseTable& sampleRelease();

struct ReleaseEntries {
    std::map<std::int64_t, std::string> byId;

    static ReleaseEntries sample();
    static ReleaseEntries of(const ReleaseTable& table);

    std::string fileText() const;
    ReleaseTable table() const;
    std::variant<ReleaseLayout, LayoutProblem> analyse() const { return analyseRelease(table()); }

    // Puts `text` at `id`, moving `id` and every later entry one place up.
    void insertAt(std::int64_t id, const std::string& text);
    // Removes `id`, moving every later entry one place down.
    void removeAt(std::int64_t id);
};

inline std::string hexLine(char digit = 'A') {
    return std::string(512, digit);
}

} // namespace kronex::test
