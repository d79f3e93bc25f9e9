#include "fake_window.h"
#include "loaded_catalog.h"
#include "release_fixture.h"
#include "show_release.h"

#include <gtest/gtest.h>

using kronex::test::FakeWindow;

TEST(ShowRelease, FillsHeaderModulesAndRangeKeepingThePosition) {
    const auto c = std::get<kronex::LoadedCatalog>(
        kronex::loadCatalog(kronex::test::ReleaseEntries::sample().table()));
    FakeWindow w;
    w.modules = {"stale"};
    w.position = 0;
    kronex::showRelease(c, w);
    kronex::showRelease(c, w); // a second load leaves the same contents
    EXPECT_EQ(w.date, "10/10/2012");
    EXPECT_EQ(w.caption, "Firmware versão 1.25");
    EXPECT_EQ(w.modules, c.moduleLines);
    EXPECT_EQ(w.maximum, 865);
    EXPECT_EQ(w.position, 0);
}
