// The entry checks: trimming, reserved characters, and the dialable set.
#include "phonebook/DialCheck.h"

#include <gtest/gtest.h>

TEST(DialCheck, NonDialableCharacters) {
    struct Case {
        std::string number;
        std::string bad;
    };
    const std::vector<Case> cases = {
        {"0123-456 789", ""},
        {"1234567890ABCD*#!PpTt,Ww$-() ", ""},
        {"  9,0221  ", ""},
        {"12a3", "a "},
        {"x1y", "x y "},
        {"abcd", "a b c d "},
        {"E", "E "},
        {"1[2]", "[ ] "},
        {"{;}", "{ ; } "},
        {"1\t2", "\t "},
        {"\x80x\xFF", "<None ASCII> x <None ASCII> "},
        {"1\xE9", "<None ASCII> "},
        {std::string("1\0" "2", 3), std::string("\0 ", 2)},
        {"   ", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(NonDialableCharacters(c.number), c.bad) << c.number;
}

TEST(DialCheck, DialableSetIsExactly29Characters) {
    int dialable = 0;
    for (int b = 1; b < 128; ++b) {
        const std::string one(1, static_cast<char>(b));
        if (NonDialableCharacters("0" + one + "0").empty()) ++dialable;
    }
    EXPECT_EQ(dialable, 29);
    EXPECT_EQ(kDialableChars.size(), 29u);
}

TEST(DialCheck, TrimAndReserved) {
    EXPECT_EQ(TrimWhite("  Site A \t\r\n"), "Site A");
    EXPECT_EQ(TrimWhite(" \t "), "");
    EXPECT_EQ(TrimWhite("a  b"), "a  b");
    for (char c : std::string("{}[];")) EXPECT_TRUE(HasReservedChar(std::string("ab") + c)) << c;
    EXPECT_FALSE(HasReservedChar("Site (A) <1>"));
}
