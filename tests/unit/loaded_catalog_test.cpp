#include "embedded_release.h"
#include "loaded_catalog.h"
#include "release_file.h"
#include "release_fixture.h"

#include <gtest/gtest.h>

using kronex::loadCatalog;
using kronex::LoadedCatalog;
using kronex::test::ReleaseEntries;

namespace {

LoadedCatalog load(const ReleaseEntries& r) {
    auto result = loadCatalog(r.table());
    if (auto* problem = std::get_if<kronex::LayoutProblem>(&result))
        throw std::runtime_error(problem->describe());
    return std::get<LoadedCatalog>(result);
}

} // namespace

TEST(LoadedCatalog, SampleReleaseValues) {
    const auto c = load(ReleaseEntries::sample());
    EXPECT_EQ(c.releaseDate, "10/10/2012");
    EXPECT_EQ(c.releaseCaption, "Firmware versão 1.25");
    EXPECT_EQ(c.releaseNumber, 25);
    ASSERT_EQ(c.moduleLines.size(), 41u); // 22 module lines, then 19 absent identifiers
    EXPECT_EQ(c.moduleLines.front(), "Altavex - Injeção eletrônica");
    EXPECT_FALSE(c.moduleLines[21].empty());
    for (std::size_t i = 22; i < 41; ++i)
        EXPECT_TRUE(c.moduleLines[i].empty()) << i;
    EXPECT_EQ(c.cursor, 53);
    EXPECT_EQ(c.eraseAddress1, 0x8000u);
    EXPECT_EQ(c.eraseAddress2, 0x7000u);
    ASSERT_EQ(c.makers.size(), 18u);
    EXPECT_EQ(c.makers.front(), "ALTAVEX");
    EXPECT_EQ(c.dataStart, 153);
    EXPECT_EQ(c.progressMax, 865);
    const std::array<std::uint16_t, 6> fixed = {0x4000, 0xB000, 0xD000, 0x2400, 0x4000, 0x4200};
    EXPECT_EQ(c.segmentAddresses, fixed);
}

// Holds for any release the build is given: the table is that file, entry
// for entry, and it loads.
TEST(LoadedCatalog, EmbeddedReleaseIsTheFileTheBuildWasGiven) {
    const auto parsed =
        kronex::parseReleaseFile(kronex::test::readFile(KRONEX_EMBEDDED_RELEASE_FILE));
    const auto& file = std::get<kronex::ReleaseTable>(parsed);
    const auto& embedded = kronex::embeddedRelease();
    ASSERT_EQ(embedded.end(), file.end());
    for (std::int64_t id = 0; id < file.end(); ++id)
        ASSERT_EQ(embedded.entry(id), file.entry(id)) << "entry " << id;
    EXPECT_EQ(embedded.entry(embedded.end()), "");
    EXPECT_EQ(embedded.entry(-1), "");
    EXPECT_TRUE(std::holds_alternative<LoadedCatalog>(loadCatalog(embedded)));
}

TEST(LoadedCatalog, ReleaseNumberIsKeptModulo256) {
    auto r = ReleaseEntries::sample();
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int>>{
             {"255", 255}, {"256", 0}, {"300", 44}, {"0", 0}, {"99999999999999999999", 255}}) {
        r.byId[3] = text;
        EXPECT_EQ(load(r).releaseNumber, expected) << text;
    }
}

TEST(LoadedCatalog, AddressTextsAfterTheModuleListHaveNoEffect) {
    auto r = ReleaseEntries::sample();
    for (std::int64_t id = 46; id <= 51; ++id)
        r.byId[id] = "0000";
    EXPECT_EQ(load(r).segmentAddresses, kronex::kMainSegmentAddresses);
}

TEST(LoadedCatalog, ModuleListEndsAtTheFirstMarker) {
    auto r = ReleaseEntries::sample();
    r.removeAt(30); // an absent module identifier less: s moves to 44
    r.byId[5] = "";
    const auto c = load(r);
    EXPECT_EQ(c.moduleLines.size(), 40u);
    EXPECT_EQ(c.moduleLines[1], "");
    EXPECT_EQ(c.cursor, 52);
}

TEST(LoadedCatalog, BrokenReleaseIsReportedNotLoaded) {
    auto r = ReleaseEntries::sample();
    r.byId.erase(1003);
    auto result = loadCatalog(r.table());
    ASSERT_TRUE(std::holds_alternative<kronex::LayoutProblem>(result));
    EXPECT_EQ(std::get<kronex::LayoutProblem>(result).id, 1003);
}
