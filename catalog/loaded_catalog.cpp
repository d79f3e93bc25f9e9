#include "loaded_catalog.h"

#include "hex_text.h"

namespace kronex {

namespace {

std::uint8_t decimalModulo256(std::string_view digits) {
    unsigned value = 0;
    for (const char c : digits)
        value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::variant<LoadedCatalog, LayoutProblem> loadCatalog(const ReleaseTable& table) {
    auto analysed = analyseRelease(table);
    if (auto* problem = std::get_if<LayoutProblem>(&analysed))
        return *problem;
    const auto& layout = std::get<ReleaseLayout>(analysed);

    LoadedCatalog c;
    c.releaseDate = table.entry(1);
    c.releaseCaption = table.entry(2);
    c.releaseNumber = decimalModulo256(table.entry(3));
    for (std::int64_t id = kFirstModuleLine; id < layout.moduleListClose; ++id)
        c.moduleLines.emplace_back(table.entry(id));
    c.cursor = layout.moduleListClose + 8;
    c.eraseAddress1 =
        static_cast<std::uint32_t>(HEX_PARA_INT(table.entry(layout.mainImageEnd + 3)));
    c.eraseAddress2 =
        static_cast<std::uint32_t>(HEX_PARA_INT(table.entry(layout.mainImageEnd + 4)));
    for (int i = 0; i < layout.makerCount; ++i)
        c.makers.emplace_back(table.entry(layout.firstMaker + i));
    c.dataStart = layout.dataStart;
    c.progressMax = layout.hexLineCount;
    c.layout = layout;
    return c;
}

} // namespace kronex
