#include "release_file.h"

#include <gtest/gtest.h>

using kronex::parseReleaseFile;
using kronex::ReleaseFileError;
using kronex::ReleaseTable;

namespace {

ReleaseFileError errorOf(const std::string& text) {
    auto parsed = parseReleaseFile(text);
    if (auto* err = std::get_if<ReleaseFileError>(&parsed))
        return *err;
    ADD_FAILURE() << "accepted: " << text;
    return {0, ""};
}

} // namespace

TEST(ReleaseFile, ReadsEntriesByIdentifier) {
    auto parsed = parseReleaseFile("1\t10/10/2012\r\n\n3\t25\n2\tFirmware versão 1.25\n7\t\n");
    ASSERT_TRUE(std::holds_alternative<ReleaseTable>(parsed));
    const auto& t = std::get<ReleaseTable>(parsed);
    EXPECT_EQ(t.entry(1), "10/10/2012"); // carriage return dropped
    EXPECT_EQ(t.entry(2), "Firmware versão 1.25");
    EXPECT_EQ(t.entry(3), "25");
    EXPECT_EQ(t.entry(4), "");
    EXPECT_EQ(t.entry(7), "");
    EXPECT_EQ(t.entry(100000), "");
    EXPECT_EQ(t.entry(0), "");
}

TEST(ReleaseFile, TextMayHoldWindows1252Punctuation) {
    auto parsed = parseReleaseFile("1\ta\u2013b \u20AC\n");
    ASSERT_TRUE(std::holds_alternative<ReleaseTable>(parsed));
    EXPECT_EQ(std::get<ReleaseTable>(parsed).entry(1), "a\u2013b \u20AC");
}

TEST(ReleaseFile, RejectsMalformedLines) {
    EXPECT_EQ(errorOf("1\tok\n2 no tab\n").line, 2);
    EXPECT_NE(errorOf("0\tx\n").message.find("identifier"), std::string::npos);
    EXPECT_NE(errorOf("65536\tx\n").message.find("identifier"), std::string::npos);
    EXPECT_NE(errorOf("x1\ty\n").message.find("identifier"), std::string::npos);
    EXPECT_NE(errorOf("\tx\n").message.find("identifier"), std::string::npos);
    EXPECT_NE(errorOf("-3\tx\n").message.find("identifier"), std::string::npos);
    const auto twice = errorOf("5\ta\n5\tb\n");
    EXPECT_EQ(twice.line, 2);
    EXPECT_NE(twice.message.find("entry 5 is given twice"), std::string::npos);
}

TEST(ReleaseFile, RejectsTextTheUnitCannotShow) {
    EXPECT_NE(errorOf("1\t\xC3(\n").message.find("not valid UTF-8"), std::string::npos);
    EXPECT_NE(errorOf("1\t\xC3").message.find("not valid UTF-8"), std::string::npos);
    EXPECT_NE(errorOf("1\t\xC0\xAF\n").message.find("not valid UTF-8"), std::string::npos);
    EXPECT_NE(errorOf("1\t\xED\xA0\x80\n").message.find("not valid UTF-8"), std::string::npos);
    EXPECT_NE(errorOf("1\ta\u2192b\n").message.find("U+2192"), std::string::npos);
    EXPECT_NE(errorOf("1\ta\tb\n").message.find("U+0009"), std::string::npos);
}
