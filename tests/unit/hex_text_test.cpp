#include "hex_text.h"

#include <gtest/gtest.h>

using kronex::HEX_PARA_INT;

TEST(HexText, ReadsAddressAndBytePairs) {
    EXPECT_EQ(HEX_PARA_INT("4000"), 16384);
    EXPECT_EQ(HEX_PARA_INT("4200"), 16896);
    EXPECT_EQ(HEX_PARA_INT("8000"), 32768);
    EXPECT_EQ(HEX_PARA_INT("7000"), 28672);
    EXPECT_EQ(HEX_PARA_INT("FF"), 255);
    EXPECT_EQ(HEX_PARA_INT("0A"), 10);
    EXPECT_EQ(HEX_PARA_INT("FFFF"), 65535);
}

TEST(HexText, DropsEverythingButUpperCaseDigits) {
    EXPECT_EQ(HEX_PARA_INT(""), 0);
    EXPECT_EQ(HEX_PARA_INT("ff"), 0);
    EXPECT_EQ(HEX_PARA_INT("4a00"), 1024);
    EXPECT_EQ(HEX_PARA_INT("400"), 1024);
    EXPECT_EQ(HEX_PARA_INT("40 00"), 16384);
    EXPECT_EQ(HEX_PARA_INT("-1"), 1);
    EXPECT_EQ(HEX_PARA_INT(":;<=>?@"), 0); // the characters between '9' and 'A'
    EXPECT_EQ(HEX_PARA_INT("G"), 0);
    EXPECT_EQ(HEX_PARA_INT(std::string_view("1\0"
                                            "2",
                                            3)),
              0x12);
    EXPECT_EQ(HEX_PARA_INT("\xC3\xA3"
                           "A"),
              10); // bytes of a UTF-8 character are dropped
}

TEST(HexText, FifteenDigitsAreExact) {
    EXPECT_EQ(HEX_PARA_INT("FFFFFFFFFFFFFFF"), 1152921504606846975);
    EXPECT_EQ(HEX_PARA_INT("123456789ABCDEF"), 0x123456789ABCDEF);
}

TEST(HexText, SixteenOrMoreDigitsKeepTheirLowBitsAndStayPositive) {
    EXPECT_EQ(HEX_PARA_INT("FFFFFFFFFFFFFFFF"), 0x7FFFFFFFFFFFFFFF);
    EXPECT_EQ(HEX_PARA_INT("8000000000000000"), 0);
    EXPECT_EQ(HEX_PARA_INT("123456789ABCDEF01"), 0x23456789ABCDEF01 & 0x7FFFFFFFFFFFFFFF);
    const std::string line(512, 'F');
    EXPECT_EQ(HEX_PARA_INT(line), 0x7FFFFFFFFFFFFFFF);
    std::string tail(512, '0');
    tail.replace(508, 4, "ABCD");
    EXPECT_EQ(HEX_PARA_INT(tail) & 0xFFFF, 0xABCD);
}
