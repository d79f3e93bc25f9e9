#include "release_fixture.h"

#include <gtest/gtest.h>

using kronex::LayoutProblem;
using kronex::ReleaseLayout;
using kronex::test::hexLine;
using kronex::test::ReleaseEntries;

namespace {

ReleaseLayout sampleLayout() {
    return std::get<ReleaseLayout>(ReleaseEntries::sample().analyse());
}

// The problem a broken release reports; fails the test if it passes.
LayoutProblem problemOf(const ReleaseEntries& release) {
    auto result = release.analyse();
    if (auto* problem = std::get_if<LayoutProblem>(&result))
        return *problem;
    ADD_FAILURE() << "the release was accepted";
    return {0, ""};
}

void expectProblem(const ReleaseEntries& release, std::int64_t id, const std::string& words) {
    const auto problem = problemOf(release);
    EXPECT_EQ(problem.id, id) << problem.describe();
    EXPECT_NE(problem.rule.find(words), std::string::npos) << problem.describe();
}

} // namespace

TEST(ReleaseLayout, FindsEveryPartOfTheSampleRelease) {
    const auto layout = sampleLayout();
    EXPECT_EQ(layout.moduleListClose, 45);
    ASSERT_EQ(layout.mainSegments.size(), 6u);
    const int segmentLines[] = {1, 13, 0, 22, 2, 32};
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_EQ(layout.mainSegments[k].lines(), segmentLines[k]) << "segment " << k + 1;
    EXPECT_EQ(layout.mainSegments.front().first, 53);
    EXPECT_EQ(layout.mainImageEnd, 129);
    EXPECT_EQ(layout.firstMaker, 134);
    EXPECT_EQ(layout.makerCount, 18);
    EXPECT_EQ(layout.dataStart, 153);
    EXPECT_EQ(layout.dataSections.size(), 50u);
    std::int64_t dataLines = 0;
    for (const auto& section : layout.dataSections)
        dataLines += section.lines();
    EXPECT_EQ(dataLines, 626);
    EXPECT_EQ(layout.dataEnd, 829);
    ASSERT_EQ(layout.target1Segments.size(), 2u);
    EXPECT_EQ(layout.target1Segments[0].first, 831);
    EXPECT_EQ(layout.target1Segments[0].lines(), 3);
    EXPECT_EQ(layout.target1Segments[1].lines(), 165);
    EXPECT_EQ(layout.target1TopLine, 1001);
    EXPECT_EQ(layout.releaseEnd, 1003);
    EXPECT_EQ(layout.hexLineCount, 865);
}

TEST(ReleaseLayout, RejectsBrokenMarkers) {
    {
        ReleaseEntries r;
        r.byId = {{1, "10/10/2012"}, {2, "x"}, {3, "1"}, {4, "Module"}};
        expectProblem(r, 4, "module list must be closed");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId.erase(45); // the next "*" is the one after the address texts
        expectProblem(r, 59, "segment address texts must be followed by \"*\"");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[129] = "*";
        expectProblem(r, 129, "followed by \"**\"");
    }
    {
        auto r = ReleaseEntries::sample();
        r.removeAt(128); // only five segments before "**"
        expectProblem(r, 128, "main-image segment 6");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[152] = "BMP";
        expectProblem(r, 152, "maker list");
    }
    {
        auto r = ReleaseEntries::sample();
        for (std::int64_t id = 134; id <= 151; ++id)
            r.removeAt(134);
        expectProblem(r, 134, "at least one maker");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[830] = hexLine();
        expectProblem(r, 830, "\"BMP\" must be followed by \"*\"");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId.erase(1003);
        expectProblem(r, 1003, "must end with \"FIM\"");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[1002] = hexLine();
        expectProblem(r, 1002, "top-block line must be followed by \"*\"");
    }
}

TEST(ReleaseLayout, RejectsMalformedLines) {
    {
        auto r = ReleaseEntries::sample();
        r.byId[60] = std::string(512, 'a');
        expectProblem(r, 60, "character 1 is not an upper-case hexadecimal digit");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[60].pop_back();
        expectProblem(r, 60, "511 characters");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[400] += "0";
        expectProblem(r, 400, "513 characters");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId.erase(900);
        expectProblem(r, 900, "target-1 segment 2: a hexadecimal line must be exactly 512");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[1001][300] = 'x'; // only the first 104 characters are sent, but all must be valid
        expectProblem(r, 1001, "character 301");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[3] = "25a";
        expectProblem(r, 3, "release number must be a decimal number");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId.erase(3);
        expectProblem(r, 3, "release number");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[133] = "7a00";
        expectProblem(r, 133, "erase address 2");
    }
    {
        auto r = ReleaseEntries::sample();
        r.byId[132] = "80000";
        expectProblem(r, 132, "erase address 1");
    }
}

TEST(ReleaseLayout, PlainEntriesAreAtMostThirtyCharacters) {
    auto r = ReleaseEntries::sample();
    r.byId[4] = "Módulo de injeção eletrônica x"; // 30 characters, more bytes
    EXPECT_TRUE(std::holds_alternative<ReleaseLayout>(r.analyse()));
    r.byId[4] += "y";
    expectProblem(r, 4, "at most 30 characters long (it has 31)");

    auto maker = ReleaseEntries::sample();
    maker.byId[140] = hexLine(); // a line in the maker list would inflate the progress range
    expectProblem(maker, 140, "at most 30");
}

TEST(ReleaseLayout, CountsDataSectionsAgainstTheMakerListAndTheDirectory) {
    const auto layout = sampleLayout();
    EXPECT_EQ(layout.minimumDataSections(), 22);
    {
        // "BMP" in place of section 22's first entry: only 21 sections before it.
        auto r = ReleaseEntries::sample();
        const auto at = layout.dataSections[21].first;
        r.insertAt(at, "BMP");
        expectProblem(r, at, "follows 21 data sections; this release needs at least 22");
    }
    auto withSections = [&](int extra) {
        auto r = ReleaseEntries::sample();
        for (int i = 0; i < extra; ++i) {
            r.insertAt(layout.dataEnd, "*");
            r.insertAt(layout.dataEnd, hexLine('1'));
        }
        return r;
    };
    const auto at58 = withSections(8).analyse();
    ASSERT_TRUE(std::holds_alternative<ReleaseLayout>(at58));
    EXPECT_EQ(std::get<ReleaseLayout>(at58).dataSections.size(), 58u);
    expectProblem(withSections(9), layout.dataEnd + 16, "data section 59 exceeds the limit of 58");
}

TEST(ReleaseLayout, EmptyRunsAreAccepted) {
    // The third main-image segment and one data section of the sample are only "*".
    const auto layout = sampleLayout();
    EXPECT_EQ(layout.mainSegments[2].lines(), 0);
    EXPECT_EQ(layout.mainSegments[2].first, layout.mainSegments[2].close);
    int empty = 0;
    for (const auto& s : layout.dataSections)
        empty += s.lines() == 0;
    EXPECT_GE(empty, 1);
}

TEST(ReleaseLayout, AnyTableEndsTheWalk) {
    // Markers that never close: every walk stops at the end of the table.
    ReleaseEntries r;
    r.byId = {{3, "7"}, {4, "*"}, {11, "*"}};
    for (std::int64_t id = 12; id < 40; ++id)
        r.byId[id] = hexLine();
    expectProblem(r, 40, "main-image segment 1");
    EXPECT_FALSE(std::holds_alternative<ReleaseLayout>(ReleaseEntries{}.analyse()));
}
