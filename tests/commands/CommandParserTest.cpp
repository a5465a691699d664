// The command file parser and the built-in entries: what each kind of file text leaves
// in the table.
#include "commands/CommandTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Expected {
    int position;
    std::string commandText;
    std::string name;
    int argCount;
    std::string firstCaption;
    std::string secondCaption;
};

struct ParseCase {
    const char* label;
    std::string text;
    bool ok;
    int count;                       // before the built-in entries
    std::vector<Expected> entries;   // positions before the built-in entries
};

std::string Commands(int n, int first = 1) {
    std::string s = "{";
    for (int i = first; i < first + n; ++i)
        s += "c" + std::to_string(i) + "[N" + std::to_string(i) + "]0;";
    return s;
}

void ExpectEntry(const CommandTable& t, const Expected& x, const char* label) {
    const CommandEntry& e = t.entry(x.position);
    SCOPED_TRACE(std::string(label) + " position " + std::to_string(x.position));
    EXPECT_EQ(e.commandText, x.commandText);
    EXPECT_EQ(e.name, x.name);
    EXPECT_EQ(e.argCount, x.argCount);
    EXPECT_EQ(e.firstCaption, x.firstCaption);
    EXPECT_EQ(e.secondCaption, x.secondCaption);
}

const std::vector<ParseCase>& Cases() {
    static const std::vector<ParseCase> cases = {
        {"punctuation dropped, blanks kept", "{ab-c_d [X]0;}", true, 1,
         {{0, "abcd ", "X", 0, "", ""}}},
        {"line break and tab dropped from text", "{\n  a\tb\r\n c[X]0;}", true, 1,
         {{0, "  ab c", "X", 0, "", ""}}},
        {"name trimmed at the ends only", "{x[  Board  Trace \t]0;}", true, 1,
         {{0, "x", "Board  Trace", 0, "", ""}}},
        {"captions kept as written", "{x[N]2 [ Addr ]junk[ Len;{} ] ;}", true, 1,
         {{0, "x", "N", 2, " Addr ", " Len;{} "}}},
        {"12 counts as 1, further brackets ignored", "{x[N]12[Cap][More];y[M]0;}", true, 2,
         {{0, "x", "N", 1, "Cap", ""}, {1, "y", "M", 0, "", ""}}},
        {"text before the digit ignored", "{x[N] count=1 [Cap];}", true, 1,
         {{0, "x", "N", 1, "Cap", ""}}},
        {"no digit swallows the next command", "{a[A][x];b[B]1[C];c[D]0;}", true, 2,
         {{0, "a", "A", 1, "C", ""}, {1, "c", "D", 0, "", ""}}},
        {"closing brace inside a name is text", "{a[x}y]0;b[B]0;}", true, 2,
         {{0, "a", "x}y", 0, "", ""}, {1, "b", "B", 0, "", ""}}},
        {"missing captions take the next name", "{a[A]2;b[B]1[C];d[D]0;}", true, 2,
         {{0, "a", "A", 2, "B", "C"}, {1, "d", "D", 0, "", ""}}},
        {"text outside braces ignored", "junk ] [ ; 5 {a[A]0;} b[B]5;", true, 1,
         {{0, "a", "A", 0, "", ""}}},
        {"bytes from 128 up", "{a\xe9\xff b[\xe9t\xe9]1[\x80\x81];}", true, 1,
         {{0, "a b", "\xe9t\xe9", 1, "\x80\x81", ""}}},
        {"only braces", "{}", true, 0, {}},
        {"no opening brace", "a[A]0;", true, 0, {}},
        {"digit 5 is invalid", "{a[A]0;b[B]5[x];}", false, 0, {{0, "", "", -1, "", ""}}},
        {"digit 3 is invalid even late in a no-digit run", "{a[A];b[B]3;}", false, 0, {}},
        {"missing closing brace counts completed commands", "{a[A]0;b[B]1[C];c[D]2[E]", true, 2,
         {{0, "a", "A", 0, "", ""}, {1, "b", "B", 1, "C", ""}, {2, "", "", -1, "", ""}}},
    };
    return cases;
}

} // namespace

TEST(CommandParser, FileTexts) {
    for (const ParseCase& c : Cases()) {
        CommandTable t;
        EXPECT_EQ(t.Parse(c.text), c.ok) << c.label;
        EXPECT_EQ(t.count(), c.count) << c.label;
        for (const Expected& x : c.entries) ExpectEntry(t, x, c.label);
    }
}

TEST(CommandParser, ParseResetsEarlierContents) {
    CommandTable t;
    ASSERT_TRUE(t.Parse("{a[A]0;b[B]0;c[C]0;}"));
    ASSERT_TRUE(t.Parse("{z[Z]0;}"));
    EXPECT_EQ(t.count(), 1);
    EXPECT_FALSE(t.entry(1).isSet());
    EXPECT_EQ(t.entry(1).name, "");
}

TEST(CommandParser, FortyCommandLimit) {
    CommandTable t;
    // The 41st command would be invalid: it must never be read.
    ASSERT_TRUE(t.Parse(Commands(40) + "x[X]9;}"));
    EXPECT_EQ(t.count(), 40);
    EXPECT_EQ(t.entry(39).name, "N40");
    EXPECT_FALSE(t.entry(40).isSet()) << "outside the table";
}

TEST(CommandTable, BuiltInsAfterEmptyFile) {
    CommandTable t;
    ASSERT_TRUE(t.Parse("header {} trailer"));
    t.InsertBuiltIns();
    EXPECT_EQ(t.count(), 2);
    EXPECT_FALSE(t.entry(0).isSet());
    EXPECT_FALSE(t.entry(1).isSet());
    ExpectEntry(t, {2, "t d", "Trace Disable", 0, "", ""}, "empty");
    ExpectEntry(t, {3, "t p", "Show Trace Setup Info", 0, "", ""}, "empty");
}

TEST(CommandTable, BuiltInsShiftFileCommands) {
    for (int n : {1, 2, 3, 22, 35, 36}) {
        SCOPED_TRACE(n);
        CommandTable t;
        ASSERT_TRUE(t.Parse(Commands(n) + "}"));
        t.InsertBuiltIns();
        EXPECT_EQ(t.count(), n + 2);
        EXPECT_EQ(t.droppedCommands(), 0);
        for (int i = 1; i <= n; ++i) {
            int pos = i <= 2 ? i - 1 : i + 1;
            EXPECT_EQ(t.entry(pos).name, "N" + std::to_string(i));
            EXPECT_EQ(t.entry(pos).commandText, "c" + std::to_string(i));
        }
        EXPECT_EQ(t.entry(2).commandText, "t d");
        EXPECT_EQ(t.entry(3).commandText, "t p");
        for (int pos = std::max(n + 2, 4); pos < CommandTable::kMaxEntries; ++pos)
            EXPECT_FALSE(t.entry(pos).isSet()) << pos;
    }
}

TEST(CommandTable, MoreThanThirtySixCommandsKeepTheFirst36) {
    for (int n : {37, 39, 40, 45}) {
        SCOPED_TRACE(n);
        CommandTable t;
        ASSERT_TRUE(t.Parse(Commands(n) + "}"));
        t.InsertBuiltIns();
        EXPECT_EQ(t.count(), 38);
        EXPECT_EQ(t.droppedCommands(), n - 36);  // those past the 40 entries too
        EXPECT_EQ(t.entry(37).name, "N36");
        // Nothing beyond the count may keep a file command out of order.
        EXPECT_FALSE(t.entry(38).isSet());
        EXPECT_FALSE(t.entry(39).isSet());
    }
}

TEST(CommandTable, MissingClosingBraceKeepsCompletedCommands) {
    CommandTable t;
    ASSERT_TRUE(t.Parse("{a[A]0;b[B]0;c[C]0;d[D]1"));
    t.InsertBuiltIns();
    EXPECT_EQ(t.count(), 5);
    EXPECT_EQ(t.entry(4).name, "C");
    EXPECT_FALSE(t.entry(5).isSet()) << "the unfinished command is not usable";
}

TEST(CommandTable, OutOfRangePositionsAreUnset) {
    CommandTable t;
    ASSERT_TRUE(t.Parse(Commands(40) + "}"));
    for (int pos : {-1, -100, 40, 1000}) EXPECT_FALSE(t.entry(pos).isSet()) << pos;
}

TEST(CommandParser, ArbitraryBytesStayWithinTheTable) {
    // Mostly the format's own characters, so the machine visits every state.
    const std::string alphabet = "{}[];0123456789 ab\t\n\xff\x80";
    unsigned seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        size_t len = 1 + (seed >> 16) % 400;
        for (size_t i = 0; i < len; ++i) {
            seed = seed * 1103515245u + 12345u;
            text += alphabet[(seed >> 16) % alphabet.size()];
        }
        CommandTable t;
        if (!t.Parse(text)) {
            EXPECT_EQ(t.count(), 0);
            continue;
        }
        ASSERT_LE(t.count(), CommandTable::kMaxEntries);
        t.InsertBuiltIns();
        ASSERT_GE(t.count(), 2);
        ASSERT_LE(t.count(), CommandTable::kMaxFileCommands + 2);
        for (int pos = 0; pos < CommandTable::kMaxEntries; ++pos) {
            ASSERT_LE(t.entry(pos).argCount, 2);
            if (pos >= t.count() && pos > CommandTable::kTraceSetupPos) {
                ASSERT_FALSE(t.entry(pos).isSet()) << pos;
            }
        }
    }
}
