// The command-line updater's texts in both languages: plural forms from the
// catalogue, decimals in the language's form, columns by display width.
#include "messages.h"
#include "report.h"

#include <gtest/gtest.h>

namespace kronex::cli {
namespace {

struct Language : testing::Test {
    ~Language() override { chooseLanguage("en"); }
};

TEST_F(Language, PluralsComeFromTheCatalogueForms) {
    struct Case {
        const char* lang;
        unsigned long long n;
        const char* text;
    } const cases[] = {
        {"en", 0, "0 units"},         {"en", 1, "1 unit"},       {"en", 2, "2 units"},
        {"pt_BR", 0, "0 unidade"},    {"pt_BR", 1, "1 unidade"}, {"pt_BR", 2, "2 unidades"},
        {"pt_BR", 11, "11 unidades"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(chooseLanguage(c.lang));
        EXPECT_EQ(fill(trn("{1} unit", "{1} units", c.n), {std::to_string(c.n)}), c.text)
            << c.lang << " " << c.n;
    }
    // The JSON's texts stay English whatever the language.
    const EnglishTexts english;
    EXPECT_EQ(trn("{1} unit", "{1} units", 1), "{1} unit");
}

TEST_F(Language, DecimalsAndColumns) {
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(decimal(4.25, 1), "4,2");
    EXPECT_EQ(decimal(234.2, 1) + " kB", "234,2 kB");
    {
        const EnglishTexts english;
        EXPECT_EQ(decimal(4.3, 1), "4.3");
    }
    ASSERT_TRUE(chooseLanguage("en"));
    EXPECT_EQ(decimal(1234.56, 2), "1234.56");

    EXPECT_EQ(displayWidth("Série"), 5u);
    EXPECT_EQ(displayWidth("nao\xCC\x83"), 3u); // n, a, o and a combining tilde
    EXPECT_EQ(displayWidth("São Paulo"), 9u);
    EXPECT_EQ(padded("Série", 8), "Série   ");
    EXPECT_EQ(padded("Porta", 8), "Porta   ");
    EXPECT_EQ(padded("interrompida", 8), "interrompida "); // never runs into the next column
}

// A blank identity's serial number is unknown, in the technician's language.
TEST_F(Language, UnknownValuesAreSaidSo) {
    UnitReport u;
    u.port = 3;
    EXPECT_EQ(unitLabel(u), "COM3"); // no unit answered
    u.identity.emplace().fill(0xFF);
    EXPECT_EQ(unitLabel(u), "COM3 (unknown)");
    ASSERT_TRUE(chooseLanguage("pt_BR"));
    EXPECT_EQ(unitLabel(u), "COM3 (desconhecido)");
    u.serial = "290A1BC2";
    EXPECT_EQ(unitLabel(u), "COM3 (290A1BC2)");
}

// The run's time is the union of the units' spans: overlaps count once,
// gaps between units (a wait, the question, --loop's idle time) not at all.
TEST(Figures, BusyTimeIsTheUnionOfTheUnitsSpans) {
    using std::chrono::seconds;
    const std::chrono::steady_clock::time_point t0{};
    const auto unit = [&](int from, int to) {
        UnitReport u;
        u.span.emplace(t0 + seconds(from), t0 + seconds(to));
        return u;
    };
    struct Case {
        std::vector<UnitReport> units;
        double busy;
    } const cases[] = {
        {{}, 0},
        {{UnitReport{}}, 0}, // no exchange: no time
        {{unit(20, 43)}, 23},
        {{unit(0, 10), unit(5, 15)}, 15},
        {{unit(30, 40), unit(0, 10)}, 20},
        {{unit(0, 10), unit(2, 4), unit(10, 12)}, 12},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(busySeconds(c.units), c.busy) << c.units.size();
    EXPECT_NE(summaryLine({unit(20, 43)}, busySeconds({unit(20, 43)})).find(" in 23.0 s"),
              std::string::npos);
}

} // namespace
} // namespace kronex::cli
