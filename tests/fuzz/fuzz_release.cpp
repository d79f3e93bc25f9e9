// Arbitrary release files against the layout rules and the load.
#include "loaded_catalog.h"
#include "release_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kronex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = parseReleaseFile(std::string(reinterpret_cast<const char*>(data), size));
    const auto* table = std::get_if<ReleaseTable>(&parsed);
    if (!table)
        return 0;
    const auto analysed = analyseRelease(*table);
    const auto loaded = loadCatalog(*table);
    const auto* layout = std::get_if<ReleaseLayout>(&analysed);
    const auto* catalog = std::get_if<LoadedCatalog>(&loaded);
    if ((layout == nullptr) != (catalog == nullptr))
        std::abort(); // the load refuses exactly what the rules refuse
    if (!catalog)
        return 0;
    // What the session relies on.
    int longEntries = 0;
    for (std::int64_t id = 0; id < layout->releaseEnd; ++id)
        longEntries += characterCount(table->entry(id)) > kMaxPlainLength;
    if (catalog->progressMax != longEntries || catalog->progressMax != layout->hexLineCount)
        std::abort();
    if (catalog->cursor != layout->moduleListClose + 8 ||
        catalog->moduleLines.size() != static_cast<std::size_t>(layout->moduleListClose - 4))
        std::abort();
    if (layout->dataSections.size() > static_cast<std::size_t>(kMaxDataSections) ||
        static_cast<int>(layout->dataSections.size()) < layout->minimumDataSections())
        std::abort();
    if (table->entry(layout->releaseEnd) != kMarkerReleaseEnd ||
        table->entry(layout->dataEnd) != kMarkerDataEnd)
        std::abort();
    return 0;
}
