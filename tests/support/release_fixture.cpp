#include "release_fixture.h"

#include "release_file.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kronex::test {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const ReleaseTable& sampleRelease() {
    static const ReleaseTable table =
        std::get<ReleaseTable>(parseReleaseFile(readFile(KRONEX_SAMPLE_RELEASE)));
    return table;
}

ReleaseEntries ReleaseEntries::sample() {
    return of(sampleRelease());
}

ReleaseEntries ReleaseEntries::of(const ReleaseTable& table) {
    ReleaseEntries e;
    for (std::int64_t id = 0; id < table.end(); ++id)
        if (!table.entry(id).empty())
            e.byId[id] = std::string(table.entry(id));
    return e;
}

std::string ReleaseEntries::fileText() const {
    std::string text;
    for (const auto& [id, entry] : byId)
        text += std::to_string(id) + "\t" + entry + "\n";
    return text;
}

ReleaseTable ReleaseEntries::table() const {
    auto parsed = parseReleaseFile(fileText());
    if (auto* err = std::get_if<ReleaseFileError>(&parsed))
        throw std::runtime_error(err->message);
    return std::get<ReleaseTable>(parsed);
}

void ReleaseEntries::insertAt(std::int64_t id, const std::string& text) {
    std::map<std::int64_t, std::string> moved;
    for (auto& [k, v] : byId)
        moved[k >= id ? k + 1 : k] = std::move(v);
    moved[id] = text;
    byId = std::move(moved);
}

void ReleaseEntries::removeAt(std::int64_t id) {
    std::map<std::int64_t, std::string> moved;
    for (auto& [k, v] : byId)
        if (k != id)
            moved[k > id ? k - 1 : k] = std::move(v);
    byId = std::move(moved);
}

} // namespace kronex::test
