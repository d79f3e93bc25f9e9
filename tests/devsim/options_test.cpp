#include "options.h"

#include <gtest/gtest.h>

namespace kronex::devsim {
namespace {

Options parsed(const std::vector<std::string>& args) {
    const ParsedOptions p = parseOptions(args);
    EXPECT_TRUE(p.options.has_value()) << p.error;
    return p.options.value_or(Options{});
}

std::string error(const std::vector<std::string>& args) {
    const ParsedOptions p = parseOptions(args);
    EXPECT_FALSE(p.options.has_value());
    return p.error;
}

TEST(DevsimOptions, NothingGivenMeansAPlainUnitAnsweringAtOnce) {
    const Options o = parsed({});
    EXPECT_EQ(o.com, 0);
    EXPECT_EQ(o.baud, 0);
    EXPECT_FALSE(o.printPath);
    EXPECT_EQ(o.faults.handshakeFrom, 1);
    EXPECT_EQ(o.faults.silentFromExchange, 0);
    EXPECT_FALSE(o.faults.incompatible);
}

TEST(DevsimOptions, EachFaultFlagFillsItsOwnField) {
    const Options o =
        parsed({"--silent-from", "7", "--nak-at", "2", "--short-reply-at", "3", "--zero-length-at",
                "4", "--cut-reply-at", "5", "--noise", "6", "--handshake-from", "8", "--noise-at",
                "9", "--incompatible", "--deaf-at", "10"});
    EXPECT_EQ(o.faults.silentFromExchange, 7);
    EXPECT_EQ(o.faults.nakAtExchange, 2);
    EXPECT_EQ(o.faults.shortReplyAtExchange, 3);
    EXPECT_EQ(o.faults.zeroLengthAtExchange, 4);
    EXPECT_EQ(o.faults.cutReplyAtExchange, 5);
    EXPECT_EQ(o.faults.noiseBeforeAck, 6);
    EXPECT_EQ(o.faults.handshakeFrom, 8);
    EXPECT_EQ(o.faults.noiseAtExchange, 9);
    EXPECT_TRUE(o.faults.incompatible);
    EXPECT_EQ(o.faults.deafAtExchange, 10);
}

TEST(DevsimOptions, PlacementAndRecords) {
    const Options o = parsed({"--com", "3", "--print-path", "--baud", "166667", "--transcript",
                              "t.txt", "--dump", "out", "--stdin-control"});
    EXPECT_EQ(o.com, 3);
    EXPECT_TRUE(o.printPath);
    EXPECT_EQ(o.baud, 166667);
    EXPECT_EQ(o.transcriptFile, "t.txt");
    EXPECT_EQ(o.dumpDir, "out");
    EXPECT_TRUE(o.stdinControl);
    EXPECT_FALSE(o.serial.has_value());
    EXPECT_FALSE(o.erasedIdentity);
    EXPECT_TRUE(parsed({"--erased-identity"}).erasedIdentity);
    EXPECT_EQ(parsed({"--serial", "2900a1FF"}).serial,
              (std::array<std::uint8_t, 3>{0x00, 0xA1, 0xFF}));
}

TEST(DevsimOptions, BadLinesAreRefusedWithTheReason) {
    EXPECT_NE(error({"--com", "0"}).find("--com"), std::string::npos);
    EXPECT_NE(error({"--nak-at", "2x"}).find("2x"), std::string::npos);
    EXPECT_NE(error({"--baud", "-9600"}).find("--baud"), std::string::npos);
    EXPECT_NE(error({"--noise"}).find("needs a value"), std::string::npos);
    EXPECT_NE(error({"--dump", ""}).find("needs a value"), std::string::npos);
    EXPECT_NE(error({"--frobnicate"}).find("--frobnicate"), std::string::npos);
    for (const char* serial : {"290A1BC", "300A1BC2", "290A1BCG", "290A1BC2F"})
        EXPECT_NE(error({"--serial", serial}).find(serial), std::string::npos) << serial;
}

TEST(DevsimOptions, HelpNamesEveryOption) {
    EXPECT_TRUE(parsed({"--help"}).help);
    EXPECT_TRUE(parsed({"-h"}).help);
    const std::string help = helpText();
    for (const char* name :
         {"--com", "--print-path", "--baud", "--silent-from", "--nak-at", "--short-reply-at",
          "--zero-length-at", "--cut-reply-at", "--noise", "--handshake-from", "--incompatible",
          "--transcript", "--dump", "--stdin-control", "--help", "--serial", "--erased-identity"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

} // namespace
} // namespace kronex::devsim
