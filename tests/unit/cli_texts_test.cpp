// The command-line updater's texts in both languages: plural forms from the
// catalogue, decimals in the language's form, columns by display width.
#include "messages.h"

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

} // namespace
} // namespace kronex::cli
