// The command-line updater's texts in both languages: plural forms from the
// catalogue, decimals in the language's form, columns by display width; the
// answers its questions take and the bars that fit the terminal.
#include "messages.h"
#include "progress_view.h"
#include "question.h"

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

TEST(Answers, EitherLanguageAnyCaseSpacesAround) {
    struct Case {
        const char* typed;
        Reply reply;
    } const cases[] = {
        {"s", Reply::Yes},          {"S", Reply::Yes},       {"sim", Reply::Yes},
        {"Sim", Reply::Yes},        {"SIM", Reply::Yes},     {" s ", Reply::Yes},
        {"y", Reply::Yes},          {"Yes", Reply::Yes},     {"YES", Reply::Yes},
        {"\tyes\r", Reply::Yes}, // a line ended on Windows
        {"n", Reply::No},           {"N", Reply::No},        {"não", Reply::No},
        {"Não", Reply::No},         {"NÃO", Reply::No},      {"nao", Reply::No},
        {"NAO", Reply::No},         {"no", Reply::No},       {"  No ", Reply::No},
        {"na\xCC\x83o", Reply::No}, // "não" with a combining tilde
        {"", Reply::Unclear},       {"   ", Reply::Unclear}, {"talvez", Reply::Unclear},
        {"yess", Reply::Unclear},   {"s s", Reply::Unclear}, {"sí", Reply::Unclear},
        {"nãoo", Reply::Unclear},   {"ok", Reply::Unclear},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseReply(c.typed), c.reply) << "\"" << c.typed << "\"";
}

TEST(Bars, FitTheTerminalShorterBarFirstThenNoTimeLeft) {
    const std::string name = "COM3  ", figures = " 24%  55,9/234,2 kB", left = "  restam 0:17";
    struct Case {
        std::size_t columns;
        std::size_t barWidth; // 0: no bar
        bool timeLeft;
    } const cases[] = {
        {120, 30, true}, {80, 30, true}, {60, 18, true}, {52, 10, true}, {51, 22, false},
        {45, 16, false}, {30, 1, false}, {29, 0, false}, {10, 0, false},
    };
    for (const auto& c : cases) {
        const std::string line = fitBar(name, 0.24, figures, left, c.columns);
        EXPECT_LT(displayWidth(line), c.columns) << c.columns << ": " << line;
        const auto open = line.find('['), close = line.find(']');
        EXPECT_EQ(open == std::string::npos ? 0 : close - open - 1, c.barWidth)
            << c.columns << ": " << line;
        EXPECT_EQ(line.find("0:17") != std::string::npos, c.timeLeft) << c.columns << ": " << line;
    }
    EXPECT_EQ(fitBar(name, 0.5, figures, "", 80).substr(6, 32), "[###############...............]");
    // Cut by columns, never inside a character.
    EXPECT_EQ(fitBar(name, 0, "  0%  concluída", "", 20), "COM3    0%  concluí");
}

} // namespace
} // namespace kronex::cli
