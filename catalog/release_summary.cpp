#include "release_summary.h"

namespace kronex {

namespace {

// The module list keeps a place for every line the window has, filled or
// not; a reader wants the filled ones.
void appendList(std::string& out, const char* heading, const std::vector<std::string>& items) {
    std::string lines;
    int count = 0;
    for (const auto& item : items) {
        if (item.empty())
            continue;
        lines += "  " + item + "\n";
        ++count;
    }
    out += heading;
    out += ": " + std::to_string(count) + "\n" + lines;
}

} // namespace

std::string releaseSummary(const LoadedCatalog& catalog) {
    std::string out;
    out += "release: " + std::to_string(catalog.releaseNumber) + "\n";
    out += "caption: " + catalog.releaseCaption + "\n";
    out += "date: " + catalog.releaseDate + "\n";
    appendList(out, "modules", catalog.moduleLines);
    appendList(out, "makers", catalog.makers);
    return out;
}

} // namespace kronex
